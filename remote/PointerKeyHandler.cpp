#include "remote/PointerKeyHandler.h"

#include "platform/input/InputBackend.h"
#include "remote/InputSimulator.h"
#include "remote/TextTyper.h"

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

// Finger scrolling comes a frame at a time: a few notches at most. More is a hostile value.
constexpr double kMaxFineWheel = 100.0 * InputRecord::WheelDelta;

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

PointerKeyHandler::PointerKeyHandler(InputSimulator* input, TextTyper* typer)
    : m_input(input)
    , m_typer(typer)
{
}

QStringList PointerKeyHandler::commands() const
{
    return {QStringLiteral("mousemove"), QStringLiteral("mouseclick"), QStringLiteral("mousedown"),
            QStringLiteral("mouseup"),   QStringLiteral("keyinput"),   QStringLiteral("mousewheel")};
}

void PointerKeyHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (command == QLatin1String("mousemove")) {
        const int dx = params.value(QLatin1String("dx")).toInt(0);
        const int dy = params.value(QLatin1String("dy")).toInt(0);
        if (params.value(QLatin1String("absolute")).toBool(false))
            m_input->moveAbsolute(dx, dy);
        else
            m_input->moveRelative(dx, dy);
    } else if (command == QLatin1String("mouseclick")) {
        mouseClick(params, context);
    } else if (command == QLatin1String("mousedown")) {
        mouseButton(params, true, context);
    } else if (command == QLatin1String("mouseup")) {
        mouseButton(params, false, context);
    } else if (command == QLatin1String("keyinput")) {
        keyInput(params, context);
    } else if (command == QLatin1String("mousewheel")) {
        if (params.contains(QLatin1String("fine")) || params.contains(QLatin1String("end"))) {
            smoothWheel(params, context);
            return;
        }
        const int amount = params.value(QLatin1String("amount")).toInt(0);
        qDebug() << "收到鼠标滚轮命令，滚动量:" << amount;
        context.logActivity(QStringLiteral("收到鼠标滚轮命令: ") + QString::number(amount));
        m_input->scrollWheel(amount);
    }
}

void PointerKeyHandler::smoothWheel(const QJsonObject& params, CommandContext& context)
{
    const QJsonValue fine = params.value(QLatin1String("fine"));
    const QJsonValue end = params.value(QLatin1String("end"));
    const double units = fine.isUndefined() ? 0.0 : fine.toDouble(std::nan(""));
    if (!(std::abs(units) <= kMaxFineWheel) || units != std::trunc(units) ||
        !(end.isUndefined() || end.isBool())) {
        qWarning() << "mousewheel: invalid request ignored: \"fine\" takes whole 120ths of a notch up to"
                   << kMaxFineWheel << "either way, \"end\" true or false";
        return;
    }
    const double notches = units / InputRecord::WheelDelta;
    const bool lifted = end.toBool(false);
    {
        QDebug line = qDebug();
        line << "收到鼠标滚轮命令，滚动量:" << notches;
        if (lifted)
            line << "结束";
    }
    context.logActivity(QStringLiteral("收到鼠标滚轮命令: ") + QString::number(notches));
    m_input->scrollSmooth(int(units), lifted);
}

void PointerKeyHandler::mouseClick(const QJsonObject& params, CommandContext& context)
{
    const QString button = params.value(QLatin1String("button")).toString(QStringLiteral("left"));
    const bool isDouble = params.value(QLatin1String("double")).toBool(false);
    const qint64 ts = toMilliseconds(params.value(QLatin1String("timestamp")).toDouble(0.0));
    const QString timeText = ts <= 0 ? QStringLiteral("未提供") : QString::number(ts);
    const qint64 difference = ts <= 0 ? 0 : m_input->backend()->wallClockMs() - ts;

    const QString kind = isDouble ? QStringLiteral("收到双击命令") : QStringLiteral("收到单击命令");
    qDebug().noquote() << kind + QStringLiteral("，按钮:") << button << "时间戳:" << timeText
                       << "时间差:" << difference << "ms";
    context.logActivity(kind + QStringLiteral(": ") + button + QStringLiteral(" (时间差: ") +
                        QString::number(difference) + QStringLiteral("ms)"));

    m_input->backend()->sleep(5);
    if (button == QLatin1String("left")) {
        if (isDouble)
            m_input->leftDoubleClick();
        else
            m_input->leftClick();
    } else if (button == QLatin1String("right")) {
        m_input->rightClick();
    } else if (button == QLatin1String("middle")) {
        m_input->middleClick();
    }
}

void PointerKeyHandler::mouseButton(const QJsonObject& params, bool down, CommandContext& context)
{
    const QString button = params.value(QLatin1String("button")).toString(QStringLiteral("left"));
    const QString kind = down ? QStringLiteral("收到鼠标按下命令") : QStringLiteral("收到鼠标松开命令");
    qDebug().noquote() << kind + QStringLiteral("，按钮:") << button;
    context.logActivity(kind + QStringLiteral(": ") + button);
    InputSimulator* const input = m_input;
    if (button == QLatin1String("left"))
        down ? input->leftDown() : input->leftUp();
    else if (button == QLatin1String("right"))
        down ? input->rightDown() : input->rightUp();
    else if (button == QLatin1String("middle"))
        down ? input->middleDown() : input->middleUp();
}

void PointerKeyHandler::keyInput(const QJsonObject& params, CommandContext& context)
{
    // Stops the text being typed; nothing else of the message runs.
    if (params.value(QLatin1String("cancel")).toBool(false)) {
        m_typer->end();
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
            m_input->sendKeyCombination(codes);
        return;
    }
    // Only what could not be typed is answered; a phone app that knows nothing of it ignores it.
    const CommandContext::Reply reply = context.laterReply();
    m_typer->start(text, codes, [reply](const TextTyper::Untyped& untyped) {
        QJsonArray positions;
        for (const int position : untyped.positions)
            positions.append(position);
        reply(QStringLiteral("keyinput"), QJsonObject{{QStringLiteral("untyped"), untyped.count},
                                                      {QStringLiteral("positions"), positions},
                                                      {QStringLiteral("reason"), untyped.reason}});
    });
}
