#pragma once

#include <QString>
#include <QVector>

#include <functional>
#include <optional>

class InputSimulator;
class QByteArray;

// A "keyinput" text typed over several turns of the event loop, so that a long text neither
// freezes the window nor keeps a pointer move waiting; its key combination is pressed once the
// last unit is typed. The phone session drives it between messages.
class TextTyper
{
public:
    // Typing goes in parts this long, with a turn of the event loop after each, so that a
    // pointer move sent meanwhile runs between two parts.
    static constexpr int PartMs = 10;

    explicit TextTyper(InputSimulator* input);
    ~TextTyper();

    // Called when a text is left unfinished after its first part: the event loop must type
    // the rest (the phone session schedules a turn).
    void setMoreToType(std::function<void()> moreToType) { m_moreToType = std::move(moreToType); }

    // Types `text` (a text still being typed is finished first, to keep the order), then `keys`.
    void start(const QString& text, const QVector<int>& keys);
    bool isTyping() const { return m_job.has_value(); }
    // Types the next part for at most `budgetMs`; true once it is all typed (and its key
    // combination pressed), or when nothing was being typed.
    bool continueTyping(int budgetMs);
    // Drops what is left of the text being typed, logging how much.
    void end();

    // More text, or closing a window, must wait for the text being typed: the characters have
    // to arrive in order and in the window they were meant for. A cancel does not wait.
    static bool waitsForText(const QByteArray& message);

private:
    struct Job
    {
        QString text;
        int next = 0;      // first UTF-16 unit not typed yet
        QVector<int> keys; // the combination pressed after the text
    };
    InputSimulator* m_input;
    std::optional<Job> m_job;
    std::function<void()> m_moreToType;
};
