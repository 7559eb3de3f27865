#include "remote/ClipboardCommands.h"

#include "platform/clipboard/Clipboard.h"

#include <QDebug>

namespace {

QJsonObject failure(const QString& error, const QString& message)
{
    return QJsonObject{{QStringLiteral("ok"), false},
                       {QStringLiteral("error"), error},
                       {QStringLiteral("message"), message}};
}

QJsonObject tooLarge()
{
    return failure(QStringLiteral("tooLarge"), QStringLiteral("The text is larger than 1 MiB."));
}

// JSON lets a phone send half of a surrogate pair, which no clipboard can hold as text.
bool hasUnpairedSurrogate(const QString& text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

} // namespace

ClipboardCommands::ClipboardCommands(std::unique_ptr<Clipboard> clipboard, ReadAllowed readAllowed,
                                     WallClock nowMs)
    : m_clipboard(std::move(clipboard))
    , m_readAllowed(std::move(readAllowed))
    , m_nowMs(std::move(nowMs))
{
}

ClipboardCommands::~ClipboardCommands() = default;

bool ClipboardCommands::isClipboardCommand(const QString& command)
{
    return command == QLatin1String("clipboardset") || command == QLatin1String("clipboardget");
}

bool ClipboardCommands::handle(const QString& command, const QJsonObject& params, const void* sender,
                               const Reply& reply)
{
    if (command == QLatin1String("clipboardset"))
        receivePart(params, sender, reply);
    else if (command == QLatin1String("clipboardget"))
        read(reply);
    else
        return false;
    return true;
}

void ClipboardCommands::dropIncoming()
{
    m_incoming.clear();
    m_incomingBytes = 0;
    m_nextPart = 0;
    m_incomingTooLarge = false;
    m_incomingSender = nullptr;
}

void ClipboardCommands::receivePart(const QJsonObject& params, const void* sender, const Reply& reply)
{
    const QJsonValue text = params.value(QLatin1String("text"));
    const QJsonValue part = params.value(QLatin1String("part"));
    const QJsonValue more = params.value(QLatin1String("more"));
    const int index = part.isUndefined() ? 0 : part.toInt(-1);
    if (!text.isString() || index < 0 || !(more.isUndefined() || more.isBool())) {
        qWarning() << "clipboardset: invalid request ignored: needs \"text\" (string), \"part\" (0 or more), "
                      "\"more\" (true or false)";
        dropIncoming();
        return;
    }
    // A part 0 starts a text; any other part must follow its predecessor from the same phone.
    if (index == 0) {
        dropIncoming();
        m_incomingSender = sender;
    } else if (index != m_nextPart || sender != m_incomingSender) {
        qWarning() << "clipboardset: invalid request ignored: part" << index << "out of order";
        dropIncoming();
        return;
    }
    m_nextPart = index + 1;
    if (!m_incomingTooLarge) {
        const QString piece = text.toString();
        m_incomingBytes += piece.toUtf8().size();
        if (m_incomingBytes > MaxTextBytes) {
            m_incomingTooLarge = true; // the rest is read and dropped; the answer comes at the end
            m_incoming.clear();
        } else {
            m_incoming += piece;
        }
    }
    if (more.toBool(false))
        return;

    const bool large = m_incomingTooLarge;
    const QString whole = std::move(m_incoming);
    dropIncoming();
    if (large) {
        qWarning() << "clipboardset: text over 1 MiB refused";
        reply(QStringLiteral("clipboardset"), tooLarge());
        return;
    }
    if (hasUnpairedSurrogate(whole)) {
        qWarning() << "clipboardset: text with an unpaired surrogate refused";
        reply(QStringLiteral("clipboardset"),
              failure(QStringLiteral("badText"),
                      QStringLiteral("The text holds characters that are not valid.")));
        return;
    }
    // The phone hears "ok" only once the desktop has the text: some take it later, or refuse it.
    const int length = whole.size();
    const QString name = m_clipboard->name();
    m_clipboard->putText(whole, [reply, length, name](bool taken) {
        if (!taken) {
            qWarning().noquote() << "clipboardset: the clipboard did not take the text:" << name;
            reply(QStringLiteral("clipboardset"),
                  failure(QStringLiteral("unavailable"),
                          QStringLiteral("The PC's clipboard cannot be reached.")));
            return;
        }
        qInfo() << "clipboardset: characters put on the clipboard:" << length;
        reply(QStringLiteral("clipboardset"),
              QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("length"), length}});
    });
}

void ClipboardCommands::read(const Reply& reply)
{
    if (!m_readAllowed()) {
        qInfo() << "clipboardget: refused, reading is switched off in the settings";
        reply(QStringLiteral("clipboardget"),
              failure(QStringLiteral("readOff"),
                      QStringLiteral("Reading the PC's clipboard is switched off in Velmora's settings.")));
        return;
    }
    const WallClock nowMs = m_nowMs;
    m_clipboard->readText(MaxTextBytes, [reply, nowMs](const ClipboardRead& read) {
        QJsonObject body;
        switch (read.result) {
        case ClipboardRead::Result::Text:
            body = QJsonObject{{QStringLiteral("ok"), true},
                               {QStringLiteral("text"), read.text},
                               {QStringLiteral("takenAt"), double(nowMs())}};
            qInfo() << "clipboardget: characters sent:" << read.text.size();
            break;
        case ClipboardRead::Result::NotText:
            body = failure(QStringLiteral("notText"), QStringLiteral("The PC's clipboard holds no text."));
            break;
        case ClipboardRead::Result::BadEncoding:
            body = failure(QStringLiteral("badEncoding"),
                           QStringLiteral("The PC's clipboard holds text that is not valid UTF-8."));
            break;
        case ClipboardRead::Result::TooLarge:
            body = tooLarge();
            break;
        case ClipboardRead::Result::Unavailable:
            body = failure(QStringLiteral("unavailable"),
                           QStringLiteral("The PC's clipboard cannot be reached."));
            break;
        }
        if (!body.value(QLatin1String("ok")).toBool())
            qInfo().noquote() << "clipboardget:" << body.value(QLatin1String("error")).toString();
        reply(QStringLiteral("clipboardget"), body);
    });
}
