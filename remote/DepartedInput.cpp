#include "remote/DepartedInput.h"

qint64 DepartedInput::keep(QQueue<QByteArray> messages)
{
    qint64 dropped = 0;
    while (!messages.isEmpty()) {
        const QByteArray message = messages.dequeue();
        if (m_bytes + message.size() > MaxBytes) {
            dropped += message.size();
            while (!messages.isEmpty())
                dropped += messages.dequeue().size();
            break;
        }
        m_messages.enqueue(message);
        m_bytes += message.size();
        ++m_queued;
    }
    return dropped;
}

QByteArray DepartedInput::take()
{
    QByteArray message = m_messages.dequeue();
    m_bytes -= message.size();
    ++m_run;
    return message;
}

bool DepartedInput::phoneDone()
{
    bool done = false;
    while (!m_releaseAfter.isEmpty() && m_run >= m_releaseAfter.head()) {
        m_releaseAfter.dequeue();
        done = true;
    }
    return done;
}

void DepartedInput::clear()
{
    m_messages.clear();
    m_bytes = 0;
    m_run = m_queued;
    m_releaseAfter.clear();
}
