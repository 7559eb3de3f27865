#include "platform/input/InputBackendFake.h"

#include <utility>

#include <QDateTime>
#include <QDebug>
#include <QThread>

#include <chrono>

InputBackendFake::InputBackendFake(Mode mode)
    : m_mode(mode)
    , m_recording(mode == Mode::Recording)
{
}

void InputBackendFake::send(const QVector<InputRecord>& records)
{
    ++m_batchCount;
    if (m_mode == Mode::Logging) {
        for (const InputRecord& r : records) {
            if (r.type == InputRecord::Mouse)
                qDebug("input: mouse flags=0x%04x dx=%d dy=%d data=%d", r.flags, r.dx, r.dy, r.mouseData);
            else if (r.flags & InputRecord::Unicode)
                qDebug("input: key flags=0x%04x (a typed character)", r.flags); // typed text stays private
            else
                qDebug("input: key flags=0x%04x vk=0x%02x scan=0x%04x", r.flags, r.vk, r.scan);
        }
    }
    if (m_recording)
        m_batches.append(Batch{monotonicMs(), records});
    if (m_hook)
        m_hook(records);
}

void InputBackendFake::sleep(int milliseconds)
{
    if (m_recording)
        m_sleeps.append(milliseconds);
    if (milliseconds <= 0)
        return;
    if (m_mode == Mode::Logging)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    else
        advance(milliseconds);
}

qint64 InputBackendFake::monotonicMs()
{
    if (m_mode == Mode::Recording)
        return m_monotonic;
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 InputBackendFake::wallClockMs()
{
    return m_mode == Mode::Logging ? QDateTime::currentMSecsSinceEpoch() : m_wall;
}

void InputBackendFake::advance(qint64 milliseconds)
{
    m_monotonic += milliseconds;
    m_wall += milliseconds;
}

QVector<InputRecord> InputBackendFake::records() const
{
    QVector<InputRecord> all;
    for (const Batch& b : m_batches)
        all += b.records;
    return all;
}

void InputBackendFake::clear()
{
    m_batches.clear();
    m_sleeps.clear();
    m_batchCount = 0;
}

void InputBackendFake::whenDelivered(std::function<void()> done)
{
    if (m_deferDelivery)
        m_undelivered.append(std::move(done));
    else
        done();
}

void InputBackendFake::deliver()
{
    const QVector<std::function<void()>> due = std::exchange(m_undelivered, {});
    for (const auto& done : due)
        done();
}
