#pragma once

#include <QByteArray>

// Cuts a byte stream into lines ended by a line feed. A line may hold at most MaxLineBytes
// bytes (or the limit given); a longer one, with or without its line feed, makes the stream unusable.
class LineFramer
{
public:
    static constexpr int MaxLineBytes = 1024 * 1024;

    enum class Result
    {
        Line,     // a complete line was taken
        NoLine,   // more bytes are needed
        Overflow, // the current line is too long; the framer must be cleared
    };

    explicit LineFramer(int maxLineBytes = MaxLineBytes)
        : m_maxLineBytes(maxLineBytes)
    {
    }

    void append(const QByteArray& bytes);
    // Takes the next complete line, without its line feed.
    Result takeLine(QByteArray* line);
    // Forgets everything and frees the memory.
    void clear();
    // Bytes held that were not taken yet.
    int size() const { return m_data.size() - m_start; }
    bool isEmpty() const { return size() == 0; }

private:
    int m_maxLineBytes;
    QByteArray m_data;
    int m_start = 0;   // first byte not taken yet
    int m_scanned = 0; // bytes from m_start known to hold no line feed
};
