#pragma once

#include "platform/input/InputBackend.h"

#include <functional>

// Two uses. Recording (tests, fuzzing, benchmarks): keeps every batch and pause, and runs on
// fake clocks that advance only when the fake sleeps, so timings are exact and nothing
// waits. Logging (the stand-in where no input system is reachable): logs each batch and
// keeps real time, so the service still behaves and paces as it would.
class InputBackendFake final : public InputBackend
{
public:
    enum class Mode
    {
        Recording,
        Logging,
    };

    struct Batch
    {
        qint64 at = 0; // monotonic time of the injection
        QVector<InputRecord> records;
    };

    explicit InputBackendFake(Mode mode = Mode::Recording);

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override { return m_screenSize; }
    int doubleClickTime() override { return m_doubleClickTime; }
    void sleep(int milliseconds) override;
    qint64 monotonicMs() override;
    qint64 wallClockMs() override;
    int typingPauseMs() override { return m_typingPause; }
    bool typesCharacter(char32_t character) override { return !m_untypeable || !m_untypeable(character); }
    int spareCharacters() override { return m_spareCharacters; }
    bool typesRefusedSlowly() override { return m_typesRefusedSlowly; }
    void whenDelivered(std::function<void()> done) override;

    // Like X11's spare keys: this many characters typesCharacter refuses are typed all the
    // same, and, with `slowly`, any more where they cannot be pasted.
    void setSpareCharacters(int count, bool slowly)
    {
        m_spareCharacters = count;
        m_typesRefusedSlowly = slowly;
    }
    void setPrimaryScreenSize(const QSize& size) { m_screenSize = size; }
    void setDoubleClickTime(int milliseconds) { m_doubleClickTime = milliseconds; }
    void setTypingPause(int milliseconds) { m_typingPause = milliseconds; }
    // The characters this desktop cannot type through keys; none when unset.
    void setUntypeable(std::function<bool(char32_t)> untypeable) { m_untypeable = std::move(untypeable); }
    // On: whenDelivered waits for `deliver` (a desktop that relays events later).
    void setDeferDelivery(bool on) { m_deferDelivery = on; }
    void deliver();
    // Lets time pass (fake clocks) without a pause of the code under test.
    void advance(qint64 milliseconds);
    // Sets the wall clock, for example backwards, without touching the monotonic clock.
    void setWallClock(qint64 msecsSinceEpoch) { m_wall = msecsSinceEpoch; }
    // Off: batches are counted but not kept (long runs).
    void setRecording(bool on) { m_recording = on; }
    // Called with every batch, after it was recorded.
    void setSendHook(std::function<void(const QVector<InputRecord>&)> hook) { m_hook = std::move(hook); }

    const QVector<Batch>& batches() const { return m_batches; }
    // Every record of every batch, in order.
    QVector<InputRecord> records() const;
    const QVector<int>& sleeps() const { return m_sleeps; }
    qint64 batchCount() const { return m_batchCount; }
    void clear();

private:
    Mode m_mode;
    bool m_recording = true;
    QSize m_screenSize{1920, 1080};
    int m_doubleClickTime = 500;
    int m_typingPause = 5;
    qint64 m_monotonic = 1000;
    qint64 m_wall = 1700000000000;
    qint64 m_batchCount = 0;
    QVector<Batch> m_batches;
    QVector<int> m_sleeps;
    std::function<void(const QVector<InputRecord>&)> m_hook;
    std::function<bool(char32_t)> m_untypeable;
    int m_spareCharacters = 0;
    bool m_typesRefusedSlowly = false;
    bool m_deferDelivery = false;
    QVector<std::function<void()>> m_undelivered;
};
