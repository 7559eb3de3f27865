#include "remote/Server.h"

#include "platform/InputBackend.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A combination is a few modifiers and a key. Each key costs a round trip to the input
// system, so a message full of codes must not hold the event loop for long either.
constexpr int kMaxCombinationKeys = 32;

// The phone's timestamp truncated towards zero; out-of-range values saturate.
qint64 toMilliseconds(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    if (value <= -9.2e18)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

// More text, or closing a window, must wait for the text being typed: the characters have to
// arrive in order and in the window they were meant for. A cancel does not wait.
bool waitsForText(const QJsonObject& object)
{
    const QString command = object.value(QLatin1String("command")).toString();
    if (command == QLatin1String("closewindow"))
        return true;
    return command == QLatin1String("keyinput") &&
           !object.value(QLatin1String("params")).toObject().value(QLatin1String("cancel")).toBool(false);
}

} // namespace

void Server::handleMouseClick(const QJsonObject& params)
{
    const QString button = params.value(QLatin1String("button")).toString(QStringLiteral("left"));
    const bool isDouble = params.value(QLatin1String("double")).toBool(false);
    const qint64 ts = toMilliseconds(params.value(QLatin1String("timestamp")).toDouble(0.0));
    const QString timeText = ts <= 0 ? QStringLiteral("未提供") : QString::number(ts);
    const qint64 difference = ts <= 0 ? 0 : m_inputSimulator->backend()->wallClockMs() - ts;

    const QString kind = isDouble ? QStringLiteral("收到双击命令") : QStringLiteral("收到单击命令");
    qDebug().noquote() << kind + QStringLiteral("，按钮:") << button << "时间戳:" << timeText
                       << "时间差:" << difference << "ms";
    emit logMessage(kind + QStringLiteral(": ") + button + QStringLiteral(" (时间差: ") +
                    QString::number(difference) + QStringLiteral("ms)"));

    m_inputSimulator->backend()->sleep(5);
    if (button == QLatin1String("left")) {
        if (isDouble)
            m_inputSimulator->leftDoubleClick();
        else
            m_inputSimulator->leftClick();
    } else if (button == QLatin1String("right")) {
        m_inputSimulator->rightClick();
    } else if (button == QLatin1String("middle")) {
        m_inputSimulator->middleClick();
    }
}

void Server::handleMouseButton(const QJsonObject& params, bool down)
{
    const QString button = params.value(QLatin1String("button")).toString(QStringLiteral("left"));
    const QString kind = down ? QStringLiteral("收到鼠标按下命令") : QStringLiteral("收到鼠标松开命令");
    qDebug().noquote() << kind + QStringLiteral("，按钮:") << button;
    emit logMessage(kind + QStringLiteral(": ") + button);
    InputSimulator* const input = m_inputSimulator;
    if (button == QLatin1String("left"))
        down ? input->leftDown() : input->leftUp();
    else if (button == QLatin1String("right"))
        down ? input->rightDown() : input->rightUp();
    else if (button == QLatin1String("middle"))
        down ? input->middleDown() : input->middleUp();
}

void Server::handleKeyInput(const QJsonObject& params)
{
    // Stops the text being typed; nothing else of the message runs.
    if (params.value(QLatin1String("cancel")).toBool(false)) {
        endTyping();
        return;
    }
    const QString text = params.value(QLatin1String("text")).toString();
    const QJsonArray keycodes = params.value(QLatin1String("keycodes")).toArray();
    QVector<int> codes;
    if (!keycodes.isEmpty()) {
        if (keycodes.size() > kMaxCombinationKeys)
            qWarning() << "组合键过多，只按前" << kMaxCombinationKeys << "个，共" << keycodes.size();
        const int count = std::min(int(keycodes.size()), kMaxCombinationKeys);
        codes.reserve(count);
        for (int i = 0; i < count; ++i)
            codes.append(keycodes.at(i).toInt(0));
    }
    if (text.isEmpty()) {
        if (!codes.isEmpty())
            m_inputSimulator->sendKeyCombination(codes);
        return;
    }
    // Messages run one at a time, so a text is still being typed only when messages are fed
    // in directly; it is finished first to keep the order.
    if (m_typing)
        continueTyping(std::numeric_limits<int>::max());
    m_typing = TypingJob{text, 0, codes};
    if (!continueTyping(TypingPartMs))
        scheduleProcessing(); // the message loop types the rest; only more text waits for it
}

bool Server::continueTyping(int budgetMs)
{
    if (!m_typing)
        return true;
    m_typing->next = m_inputSimulator->typeTextPart(m_typing->text, m_typing->next, budgetMs);
    if (m_typing->next < m_typing->text.size())
        return false;
    const TypingJob done = std::move(*m_typing);
    m_typing.reset();
    m_inputSimulator->logTypedText(done.text);
    if (!done.keys.isEmpty())
        m_inputSimulator->sendKeyCombination(done.keys);
    return true;
}

void Server::endTyping()
{
    if (!m_typing)
        return;
    const int dropped = InputSimulator::characterCount(QStringView(m_typing->text).mid(m_typing->next));
    m_typing.reset();
    qInfo() << "停止输入文本，丢弃未输入的字符数:" << dropped;
}

QJsonObject Server::loggableCommand(const QJsonObject& object)
{
    const QString command = object.value(QLatin1String("command")).toString();
    if (command == QLatin1String("clipboardset")) {
        // The text only as its length, like typed text.
        const QJsonObject params = object.value(QLatin1String("params")).toObject();
        QJsonObject shown;
        if (params.value(QLatin1String("text")).isString())
            shown.insert(QStringLiteral("textLength"), params.value(QLatin1String("text")).toString().size());
        for (const QLatin1String key : {QLatin1String("part"), QLatin1String("more")}) {
            if (params.contains(key))
                shown.insert(key, params.value(key));
        }
        return QJsonObject{{QStringLiteral("command"), command}, {QStringLiteral("params"), shown}};
    }
    if (command != QLatin1String("keyinput"))
        return object;
    // The command, the text's length and the keys; nothing else the phone put in the message.
    const QJsonObject params = object.value(QLatin1String("params")).toObject();
    QJsonObject shown;
    if (params.contains(QLatin1String("text")))
        shown.insert(QStringLiteral("textLength"),
                     InputSimulator::characterCount(params.value(QLatin1String("text")).toString()));
    for (const QLatin1String key : {QLatin1String("keycodes"), QLatin1String("cancel")}) {
        if (params.contains(key))
            shown.insert(key, params.value(key));
    }
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("keyinput")},
                       {QStringLiteral("params"), shown}};
}

bool Server::runBesideTyping()
{
    QByteArray message;
    bool fromCurrentPhone = true;
    if (!takeMessage(&message, &fromCurrentPhone))
        return false;
    const std::optional<QJsonObject> object = parseCommand(message);
    if (object && waitsForText(*object)) {
        m_afterText = message;
        m_afterTextFromCurrentPhone = fromCurrentPhone;
        return false;
    }
    m_replyToSender = fromCurrentPhone;
    if (object)
        handleCommand(*object);
    else
        qDebug() << "接收到无效的JSON数据";
    m_replyToSender = true;
    return true;
}

void Server::phoneLeft()
{
    m_releaseAfter.enqueue(m_leftoverQueued);
    scheduleProcessing();
}

void Server::releaseButtonsOfDepartedPhones()
{
    bool due = false;
    while (!m_releaseAfter.isEmpty() && m_leftoverRun >= m_releaseAfter.head()) {
        m_releaseAfter.dequeue();
        due = true;
    }
    if (due)
        m_inputSimulator->releaseHeldButtons();
}
