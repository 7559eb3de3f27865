#include "remote/LineFramer.h"

void LineFramer::append(const QByteArray& bytes)
{
    // Taken lines are dropped lazily, so a burst of short lines costs one move, not one each.
    if (m_start > 0 && m_start >= m_data.size() / 2) {
        m_data.remove(0, m_start);
        m_start = 0;
    }
    m_data.append(bytes);
}

LineFramer::Result LineFramer::takeLine(QByteArray* line)
{
    const int from = m_start + m_scanned;
    const int end = m_data.indexOf('\n', from);
    if (end < 0) {
        m_scanned = m_data.size() - m_start;
        if (m_scanned > m_maxLineBytes)
            return Result::Overflow;
        if (m_start == m_data.size()) {
            m_data.clear();
            m_start = 0;
            m_scanned = 0;
        }
        return Result::NoLine;
    }
    const int length = end - m_start;
    if (length > m_maxLineBytes)
        return Result::Overflow;
    *line = m_data.mid(m_start, length);
    m_start = end + 1;
    m_scanned = 0;
    return Result::Line;
}

void LineFramer::clear()
{
    m_data = QByteArray();
    m_start = 0;
    m_scanned = 0;
}
