#pragma once

#include <QSize>
#include <QVector>

#include <cstdint>
#include <functional>
#include <memory>

// One synthetic input event in the form of the Windows input record: the remote-control
// logic builds these, and each backend turns them into its own system's events.
struct InputRecord
{
    enum Type : std::uint32_t
    {
        Mouse = 0,
        Keyboard = 1,
    };

    // Mouse flags.
    static constexpr std::uint32_t MouseMove = 0x0001;
    static constexpr std::uint32_t LeftDown = 0x0002;
    static constexpr std::uint32_t LeftUp = 0x0004;
    static constexpr std::uint32_t RightDown = 0x0008;
    static constexpr std::uint32_t RightUp = 0x0010;
    static constexpr std::uint32_t MiddleDown = 0x0020;
    static constexpr std::uint32_t MiddleUp = 0x0040;
    static constexpr std::uint32_t Wheel = 0x0800;
    static constexpr std::uint32_t Absolute = 0x8000;
    // Beyond the Windows flags, with Wheel: the distance comes from fingers sliding on the
    // phone, in any part of a notch, and scrolls smoothly where the desktop can.
    static constexpr std::uint32_t WheelSmooth = 0x10000;
    // With WheelSmooth: the fingers lifted, the scroll ends (the record's distance comes first).
    static constexpr std::uint32_t WheelEnd = 0x20000;
    // Keyboard flags.
    static constexpr std::uint32_t KeyUp = 0x0002;
    static constexpr std::uint32_t Unicode = 0x0004;

    // Distance of one wheel notch.
    static constexpr int WheelDelta = 120;
    // Absolute coordinates span 0..AbsoluteMax across the primary screen.
    static constexpr int AbsoluteMax = 65535;

    Type type = Mouse;
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::int32_t mouseData = 0;
    std::uint16_t vk = 0;
    std::uint16_t scan = 0;
    std::uint32_t flags = 0;

    static InputRecord mouse(std::uint32_t flags, std::int32_t dx = 0, std::int32_t dy = 0,
                             std::int32_t mouseData = 0)
    {
        InputRecord r;
        r.type = Mouse;
        r.flags = flags;
        r.dx = dx;
        r.dy = dy;
        r.mouseData = mouseData;
        return r;
    }
    static InputRecord key(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags)
    {
        InputRecord r;
        r.type = Keyboard;
        r.vk = vk;
        r.scan = scan;
        r.flags = flags;
        return r;
    }

    bool operator==(const InputRecord& o) const
    {
        return type == o.type && dx == o.dx && dy == o.dy && mouseData == o.mouseData && vk == o.vk &&
               scan == o.scan && flags == o.flags;
    }
    bool operator!=(const InputRecord& o) const { return !(*this == o); }
};

// What the input simulator needs from the system: injecting events, the primary screen's
// size, the double-click time, pausing and the clocks. Everything runs on the GUI thread.
class InputBackend
{
public:
    virtual ~InputBackend() = default;

    // Injects the records in order as one uninterrupted batch.
    virtual void send(const QVector<InputRecord>& records) = 0;
    // Primary screen size in pixels.
    virtual QSize primaryScreenSize() = 0;
    // The user's double-click time in milliseconds.
    virtual int doubleClickTime() = 0;
    // Blocks the calling thread.
    virtual void sleep(int milliseconds) = 0;
    // Milliseconds on a clock that never jumps; measures intervals.
    virtual qint64 monotonicMs() = 0;
    // Milliseconds since the Unix epoch; only for log lines.
    virtual qint64 wallClockMs() = 0;
    // Pause after each typed UTF-16 unit, for paths to applications that lose or reorder
    // characters that come faster. 0 where every character arrives in order however fast:
    // then a whole run of text goes in one batch.
    virtual int typingPauseMs() { return 5; }
    // Whether typing `character` as a Unicode record makes it arrive. Where it does not (a
    // desktop that types only what the user's keyboard layout holds), the text is pasted.
    virtual bool typesCharacter(char32_t /*character*/) { return true; }
    // How many distinct characters that typesCharacter refuses can still be typed through keys
    // right now at full speed (X11's idle spare keycodes): a run needing no more is typed, a
    // longer one pasted.
    virtual int spareCharacters() { return 0; }
    // Whether characters that typesCharacter refuses still arrive when typed, only slowly:
    // where they cannot be pasted (pasting off, no clipboard), they are typed.
    virtual bool typesRefusedSlowly() { return false; }
    // Runs `done` once every event sent so far has been handed to the desktop (at once where
    // send does that itself); never after the backend is gone.
    virtual void whenDelivered(std::function<void()> done) { done(); }
};

// The X11 (XTest) backend when an X display can be opened; otherwise, with a clear warning,
// a backend that only logs the events.
std::unique_ptr<InputBackend> createInputBackend();
