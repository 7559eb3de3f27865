#include "remote/TextTyper.h"

#include "platform/input/InputBackend.h"
#include "remote/CommandTable.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonObject>
#include <QSet>

#include <limits>
#include <utility>

namespace {

// Shift+Insert pastes the clipboard in GTK and Qt applications, browsers, xterm and most
// other terminals, where Ctrl+V would be a control character.
constexpr int kVirtualShift = 0x10;
constexpr int kVirtualInsert = 0x2D;

char32_t codePointAt(const QString& text, int i, int* units)
{
    const QChar unit = text.at(i);
    if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(unit, text.at(i + 1));
    }
    *units = 1;
    return unit.unicode();
}

} // namespace

TextTyper::TextTyper(InputSimulator* input)
    : m_input(input)
{
    m_wakeTimer.setSingleShot(true);
    QObject::connect(&m_wakeTimer, &QTimer::timeout, [this] { wake(); });
}

TextTyper::~TextTyper() = default;

void TextTyper::setPaste(std::function<Clipboard*()> clipboard, std::function<bool()> allowed)
{
    m_clipboardSource = std::move(clipboard);
    m_pasteAllowed = std::move(allowed);
}

Clipboard* TextTyper::clipboard() const
{
    return m_clipboardSource ? m_clipboardSource() : nullptr;
}

void TextTyper::start(const QString& text, const QVector<int>& keys, Report report)
{
    Job job;
    job.text = text;
    job.keys = keys;
    job.report = std::move(report);
    job.pasteAllowed = !m_pasteAllowed || m_pasteAllowed();
    // Messages run one at a time, so a text is still being typed only when messages are fed
    // in directly; it is finished first to keep the order, or, while it waits for the
    // desktop, this one waits behind it.
    if (m_job)
        continueTyping(std::numeric_limits<int>::max());
    if (m_job) {
        m_queued.push_back(std::move(job));
        return;
    }
    m_job = std::move(job);
    m_restoreLater = false;
    if (!continueTyping(PartMs) && m_moreToType && !isWaiting())
        m_moreToType(); // the message loop types the rest; only more text waits for it
}

bool TextTyper::isWaiting() const
{
    return m_job.has_value() && m_wait != Wait::None;
}

bool TextTyper::continueTyping(int budgetMs)
{
    InputBackend* const backend = m_input->backend();
    const qint64 start = backend->monotonicMs();
    while (m_job) {
        if (m_wait != Wait::None) {
            if (m_wait == Wait::Save || m_wakeTimer.isActive())
                return false;
            if (m_wait == Wait::Taken)
                qWarning() << "粘贴的文本未被读取，继续输入"; // the window may not take pastes
            m_wait = Wait::None;
        }
        Job& job = *m_job;
        if (job.next >= job.text.size()) {
            finishJob();
            continue;
        }
        bool typeable = true;
        const int end = runEnd(job.text, job.next, &typeable);
        if (typeable || typesByKeys(end)) {
            const qint64 left = budgetMs - (backend->monotonicMs() - start);
            job.next = m_input->typeTextPart(job.text, job.next, int(std::max<qint64>(left, 0)), end);
        } else if (!pasteRun(end)) {
            return false;
        }
        if (backend->monotonicMs() - start >= budgetMs && m_job && m_job->next < m_job->text.size())
            return false;
    }
    return true;
}

int TextTyper::runEnd(const QString& text, int from, bool* typeable) const
{
    InputBackend* const backend = m_input->backend();
    int units = 1;
    *typeable = backend->typesCharacter(codePointAt(text, from, &units));
    int end = from + units;
    // Bounded: a long text typed in many short parts is not looked through again at each one.
    const int limit = from + MaxRunUnits;
    while (end < text.size() && end < limit &&
           backend->typesCharacter(codePointAt(text, end, &units)) == *typeable)
        end += units;
    return end;
}

bool TextTyper::typesByKeys(int end) const
{
    InputBackend* const backend = m_input->backend();
    const Job& job = *m_job;
    // Keys leave the clipboard alone: a run that fits the backend's spare keys is typed.
    const int spare = backend->spareCharacters();
    if (spare > 0) {
        QSet<char32_t> distinct;
        int units = 1;
        for (int i = job.next; i < end && distinct.size() <= spare; i += units)
            distinct.insert(codePointAt(job.text, i, &units));
        if (distinct.size() <= spare)
            return true;
    }
    // Slow keys rather than nothing where pasting is out.
    return backend->typesRefusedSlowly() &&
           (!job.pasteAllowed || m_saveRefused || m_pasteRefused || clipboard() == nullptr);
}

bool TextTyper::pasteRun(int end)
{
    Job& job = *m_job;
    Clipboard* const board = job.pasteAllowed ? clipboard() : nullptr;
    const auto untypedRun = [this, &job, end](const char* reason) {
        countUntyped(job.next, end, QLatin1String(reason));
        job.next = end;
        return true;
    };
    if (!job.pasteAllowed)
        return untypedRun("pasteOff");
    if (board == nullptr)
        return untypedRun("noClipboard");
    if (m_saveRefused)
        return untypedRun("clipboardBusy");
    if (!m_saved) {
        // The user's clipboard first: what cannot be put back is not pasted over.
        m_wait = Wait::Save;
        const quint64 number = ++m_pasteNumber;
        const std::weak_ptr<bool> alive = m_alive;
        board->saveContent(MaxSavedBytes, [this, alive, number](const ClipboardContent& content) {
            if (alive.expired() || number != m_pasteNumber || m_wait != Wait::Save)
                return;
            m_wait = Wait::None;
            if (content.known)
                m_saved = content;
            else
                m_saveRefused = true;
            if (!content.known)
                qWarning() << "剪贴板内容无法保存，不粘贴无法输入的字符";
            wake();
        });
        return m_wait != Wait::Save; // answered at once: this run is looked at again
    }
    const quint64 number = ++m_pasteNumber;
    const std::weak_ptr<bool> alive = m_alive;
    const bool offered = board->offerTransient(job.text.mid(job.next, end - job.next), [this, alive, number] {
        // A read before our key reached the desktop is not our paste (GNOME reads a new
        // clipboard text by itself).
        if (alive.expired() || number != m_pasteNumber || m_wait != Wait::Taken || !m_keyDelivered)
            return;
        waitUntil(Wait::Settle, PasteSettleMs);
    });
    if (!offered) {
        m_pasteRefused = true;
        if (m_input->backend()->typesRefusedSlowly())
            return true; // the run is looked at again, and typed
        return untypedRun("pasteRefused");
    }
    m_offered = true;
    job.next = end;
    // Waiting before the key: an application may read the paste before the key call returns.
    if (board->tellsWhenTaken())
        waitUntil(Wait::Taken, PasteKeyTimeoutMs);
    else
        waitUntil(Wait::Settle, PasteBlindMs);
    m_keyDelivered = false;
    m_input->sendKeyCombination({kVirtualShift, kVirtualInsert});
    m_input->backend()->whenDelivered([this, alive, number] {
        if (alive.expired() || number != m_pasteNumber)
            return;
        m_keyDelivered = true;
        // The application's time to read starts when the key reaches it: a busy portal took
        // over a second to relay it, and the run was given up before it could be read.
        if (m_wait == Wait::Taken && m_wakeTimer.isActive())
            m_wakeTimer.start(PasteTimeoutMs);
    });
    return false;
}

void TextTyper::countUntyped(int from, int end, const QString& reason)
{
    Job& job = *m_job;
    // Characters before `from`, counted on from where the last count stopped.
    job.countedChars +=
        InputSimulator::characterCount(QStringView(job.text).mid(job.countedUnits, from - job.countedUnits));
    job.countedUnits = from;
    const int count = InputSimulator::characterCount(QStringView(job.text).mid(from, end - from));
    for (int i = 0; i < count && job.untyped.positions.size() < MaxReportedPositions; ++i)
        job.untyped.positions.append(job.countedChars + i);
    job.untyped.count += count;
    if (job.untyped.reason.isEmpty())
        job.untyped.reason = reason;
}

void TextTyper::finishJob()
{
    Job done = std::move(*m_job);
    m_job.reset();
    m_input->logTypedText(done.text);
    // The user's clipboard is back before the combination, which may well be a paste of it.
    restoreClipboard();
    m_saveRefused = false;
    m_pasteRefused = false;
    if (done.untyped.count > 0) {
        // How many only: which characters they were stays private.
        qInfo() << "有字符无法输入，未输入的字符数:" << done.untyped.count << done.untyped.reason;
        if (done.report)
            done.report(done.untyped);
    }
    if (!done.keys.isEmpty())
        m_input->sendKeyCombination(done.keys);
    if (!m_queued.empty()) {
        m_job = std::move(m_queued.front());
        m_queued.pop_front();
    }
}

void TextTyper::waitUntil(Wait wait, int ms)
{
    m_wait = wait;
    m_wakeTimer.start(ms);
}

void TextTyper::wake()
{
    if (!m_job) {
        // A text dropped while its paste was out: the clipboard goes back once that is over.
        if (m_wait == Wait::Taken && m_wakeTimer.isActive())
            return;
        m_wait = Wait::None;
        if (m_restoreLater)
            restoreClipboard();
        m_restoreLater = false;
        return;
    }
    if (m_moreToType)
        m_moreToType();
}

void TextTyper::restoreClipboard()
{
    if (!m_saved)
        return;
    const ClipboardContent saved = std::move(*m_saved);
    m_saved.reset();
    if (!std::exchange(m_offered, false))
        return; // nothing of ours went on it
    Clipboard* const board = clipboard();
    if (board == nullptr || !board->restoreContent(saved))
        qWarning() << "剪贴板内容未能恢复";
}

void TextTyper::end(EndRestore restore)
{
    if (m_job) {
        int dropped = InputSimulator::characterCount(QStringView(m_job->text).mid(m_job->next));
        for (const Job& job : m_queued)
            dropped += InputSimulator::characterCount(job.text);
        m_job.reset();
        m_queued.clear();
        qInfo() << "停止输入文本，丢弃未输入的字符数:" << dropped;
    }
    m_saveRefused = false;
    m_pasteRefused = false;
    if (m_wait == Wait::Save) {
        ++m_pasteNumber; // its answer no longer matters
        m_wait = Wait::None;
    }
    // A paste already asked for must not read the user's own clipboard instead.
    if (m_wait == Wait::None || restore == EndRestore::Now) {
        m_wakeTimer.stop();
        m_wait = Wait::None;
        restoreClipboard();
    } else {
        m_restoreLater = true;
    }
}

bool TextTyper::waitsForText(const QByteArray& message)
{
    const std::optional<QJsonObject> object = CommandTable::parse(message);
    if (!object)
        return false;
    const QString command = object->value(QLatin1String("command")).toString();
    if (command == QLatin1String("closewindow"))
        return true;
    return command == QLatin1String("keyinput") &&
           !object->value(QLatin1String("params")).toObject().value(QLatin1String("cancel")).toBool(false);
}
