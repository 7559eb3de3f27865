#include "remote/InputSimulator.h"

#include "platform/input/InputBackend.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Saturates instead of the undefined conversion of an out-of-range double.
std::int32_t toInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (value <= double(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value); // truncates towards zero
}

} // namespace

InputSimulator::InputSimulator(std::unique_ptr<InputBackend> backend, QObject* parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
}

InputSimulator::~InputSimulator() = default;

void InputSimulator::inject(const QVector<InputRecord>& records)
{
    m_backend->send(records);
}

void InputSimulator::mouse(quint32 flags)
{
    inject({InputRecord::mouse(flags)});
    trackButtons(flags);
}

void InputSimulator::trackButtons(quint32 flags)
{
    // Each release flag is its press flag shifted left by one.
    for (const quint32 down : {InputRecord::LeftDown, InputRecord::RightDown, InputRecord::MiddleDown}) {
        if (flags & down)
            m_heldButtons |= down;
        if (flags & (down << 1))
            m_heldButtons &= ~down;
    }
}

void InputSimulator::releaseHeldButtons()
{
    if (m_heldButtons == 0)
        return;
    qDebug("释放仍按住的鼠标按键: 0x%02x", unsigned(m_heldButtons));
    for (const quint32 down : {InputRecord::LeftDown, InputRecord::RightDown, InputRecord::MiddleDown}) {
        if (m_heldButtons & down)
            mouse(down << 1);
    }
}

void InputSimulator::pause(int milliseconds)
{
    m_backend->sleep(milliseconds);
}

void InputSimulator::click(quint32 down, quint32 up)
{
    mouse(down);
    pause(ClickHoldMs);
    mouse(up);
}

void InputSimulator::mouseLogged(quint32 flags, const char* what)
{
    mouse(flags);
    qDebug() << what << m_backend->wallClockMs();
}

void InputSimulator::leftClick()
{
    const qint64 d = m_backend->doubleClickTime();
    qint64 now = m_backend->monotonicMs();
    const qint64 interval = now - m_lastClickMonotonic;
    const qint64 spacing = d + ClickSpacingMarginMs;
    if (m_hasClicked && interval < spacing) {
        const qint64 extra = spacing - interval;
        qDebug() << "检测到点击间隔过短 (" << interval << "ms), 添加 " << extra << "ms 额外延迟";
        pause(int(extra));
        now = m_backend->monotonicMs();
    }
    const qint64 wallNow = m_backend->wallClockMs();
    click(InputRecord::LeftDown, InputRecord::LeftUp);
    m_lastClickMonotonic = now;
    m_hasClicked = true;
    m_lastClickTime = wallNow;
    qDebug() << "执行左键单击，当前时间:" << m_lastClickTime;
}

void InputSimulator::leftDoubleClick()
{
    const int d = m_backend->doubleClickTime();
    qDebug() << "执行双击操作, 系统双击时间间隔:" << d << "ms";
    click(InputRecord::LeftDown, InputRecord::LeftUp);
    const int gap = int(d * 0.7);
    pause(gap);
    click(InputRecord::LeftDown, InputRecord::LeftUp);
    qDebug() << "双击操作完成, 使用间隔时间:" << gap << "ms";
}

void InputSimulator::leftDown()
{
    mouseLogged(InputRecord::LeftDown, "执行鼠标左键按下，当前时间:");
}

void InputSimulator::leftUp()
{
    mouseLogged(InputRecord::LeftUp, "执行鼠标左键释放，当前时间:");
}

void InputSimulator::rightClick()
{
    click(InputRecord::RightDown, InputRecord::RightUp);
    qDebug() << "执行右键点击，当前时间:" << m_backend->wallClockMs();
}

void InputSimulator::rightDown()
{
    mouseLogged(InputRecord::RightDown, "执行鼠标右键按下，当前时间:");
}

void InputSimulator::rightUp()
{
    mouseLogged(InputRecord::RightUp, "执行鼠标右键释放，当前时间:");
}

void InputSimulator::middleClick()
{
    click(InputRecord::MiddleDown, InputRecord::MiddleUp);
}

void InputSimulator::middleDown()
{
    mouse(InputRecord::MiddleDown);
}

void InputSimulator::middleUp()
{
    mouse(InputRecord::MiddleUp);
}

void InputSimulator::scrollWheel(int notches)
{
    // 32-bit arithmetic that wraps like the system's own, without signed overflow.
    const auto data = static_cast<std::int32_t>(static_cast<std::uint32_t>(notches) *
                                                static_cast<std::uint32_t>(InputRecord::WheelDelta));
    inject({InputRecord::mouse(InputRecord::Wheel, 0, 0, data)});
    qDebug() << "执行鼠标滚轮滚动: " << notches;
}

void InputSimulator::scrollSmooth(int units, bool end)
{
    const std::uint32_t flags =
        InputRecord::Wheel | InputRecord::WheelSmooth | (end ? InputRecord::WheelEnd : 0);
    inject({InputRecord::mouse(flags, 0, 0, units)});
    qDebug() << "执行鼠标滚轮滚动: " << units / double(InputRecord::WheelDelta);
}

void InputSimulator::moveRelative(int dx, int dy)
{
    inject({InputRecord::mouse(InputRecord::MouseMove, dx, dy)});
}

void InputSimulator::moveAbsolute(int x, int y)
{
    const QSize screen = m_backend->primaryScreenSize();
    // A one-pixel (or unknown) screen would divide by zero.
    const int w = std::max(screen.width() - 1, 1);
    const int h = std::max(screen.height() - 1, 1);
    const std::int32_t nx = toInt32((double(InputRecord::AbsoluteMax) / w) * x);
    const std::int32_t ny = toInt32((double(InputRecord::AbsoluteMax) / h) * y);
    inject({InputRecord::mouse(InputRecord::MouseMove | InputRecord::Absolute, nx, ny)});
}

void InputSimulator::sendKeyCombination(const QVector<int>& codes)
{
    holdKeys(codes);
    releaseKeys(codes);
}

void InputSimulator::holdKeys(const QVector<int>& codes)
{
    for (int code : codes)
        inject({InputRecord::key(static_cast<std::uint16_t>(code), 0, 0)});
}

void InputSimulator::releaseKeys(const QVector<int>& codes)
{
    for (auto it = codes.crbegin(); it != codes.crend(); ++it)
        inject({InputRecord::key(static_cast<std::uint16_t>(*it), 0, InputRecord::KeyUp)});
}

void InputSimulator::typeUnit(QChar unit, int pauseMs)
{
    const std::uint16_t u = unit.unicode();
    inject({InputRecord::key(0, u, InputRecord::Unicode),
            InputRecord::key(0, u, InputRecord::Unicode | InputRecord::KeyUp)});
    pause(pauseMs);
}

void InputSimulator::typeText(const QString& text)
{
    typeTextPart(text, 0, std::numeric_limits<int>::max());
    logTypedText(text);
}

int InputSimulator::typeTextPart(const QString& text, int from, int budgetMs, int to)
{
    const qint64 start = m_backend->monotonicMs();
    const int pauseMs = m_backend->typingPauseMs();
    const int size = to < 0 ? int(text.size()) : std::min(to, int(text.size()));
    int next = std::clamp(from, 0, size);
    // A high surrogate at the end of a step takes its low one along.
    const auto stepEnd = [&text, size](int end) {
        return end < size && text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate() ? end + 1
                                                                                                 : end;
    };
    while (next < size) {
        if (pauseMs > 0) {
            const int end = stepEnd(next + 1);
            while (next < end)
                typeUnit(text.at(next++), pauseMs);
        } else {
            // Nothing to wait for between characters: a run goes in one batch, which the
            // backend injects with one round trip to the input system.
            const int end = stepEnd(std::min(next + TypeBatchUnits, size));
            QVector<InputRecord> records;
            records.reserve(2 * (end - next));
            for (; next < end; ++next) {
                const std::uint16_t u = text.at(next).unicode();
                records << InputRecord::key(0, u, InputRecord::Unicode)
                        << InputRecord::key(0, u, InputRecord::Unicode | InputRecord::KeyUp);
            }
            inject(records);
        }
        if (m_backend->monotonicMs() - start >= budgetMs)
            break;
    }
    return next;
}

void InputSimulator::logTypedText(const QString& text)
{
    // The length only: what the phone types may be a password.
    qDebug().noquote() << "输入文本(Unicode模式): " << characterCount(text) << "个字符";
}

int InputSimulator::characterCount(QStringView text)
{
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()))
            ++count;
    }
    return count;
}
