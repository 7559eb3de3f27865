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

// Typing costs 5 ms per UTF-16 unit with the event loop held; one message may not hold it
// for longer than about 20 s.
constexpr int kMaxTypedUnits = 4096;
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
    QString text = params.value(QLatin1String("text")).toString();
    const QJsonArray keycodes = params.value(QLatin1String("keycodes")).toArray();
    if (!text.isEmpty()) {
        if (text.size() > kMaxTypedUnits) {
            qWarning() << "输入文本过长，只输入前" << kMaxTypedUnits << "个字符，共" << text.size();
            // Never cut between the halves of a surrogate pair.
            text.truncate(text.at(kMaxTypedUnits - 1).isHighSurrogate() ? kMaxTypedUnits - 1
                                                                        : kMaxTypedUnits);
        }
        m_inputSimulator->typeText(text);
    }
    if (!keycodes.isEmpty()) {
        if (keycodes.size() > kMaxCombinationKeys)
            qWarning() << "组合键过多，只按前" << kMaxCombinationKeys << "个，共" << keycodes.size();
        QVector<int> codes;
        const int count = std::min(int(keycodes.size()), kMaxCombinationKeys);
        codes.reserve(count);
        for (int i = 0; i < count; ++i)
            codes.append(keycodes.at(i).toInt(0));
        m_inputSimulator->sendKeyCombination(codes);
    }
}
