#pragma once

#include "platform/clipboard/Clipboard.h"

#include <QString>
#include <QTimer>
#include <QVector>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class InputSimulator;
class QByteArray;

// A "keyinput" text typed over several turns of the event loop, so that a long text neither
// freezes the window nor keeps a pointer move waiting; its key combination is pressed once the
// last unit is typed. The phone session drives it between messages.
//
// A run of characters the desktop cannot type through keys (a layout without them) is pasted
// instead (unless it fits the backend's spare keys): the user's clipboard is saved, the run
// put there marked as secret, Shift+Insert pressed, and once an application has read it the next run goes on;
// the clipboard is put back when the text is done or dropped. What can be neither typed nor pasted is counted
// and reported to the phone.
class TextTyper
{
public:
    // Typing goes in parts this long, with a turn of the event loop after each, so that a
    // pointer move sent meanwhile runs between two parts.
    static constexpr int PartMs = 10;
    // The configuration entry of the user's choice: "0" when characters the keyboard layout
    // lacks must not be pasted; on when missing.
    static constexpr const char* PasteSettingKey = "pasteUntypeable";
    // A pasted run must be read by an application within this long, or the text goes on
    // without it (the focused window may not take pastes).
    static constexpr int PasteTimeoutMs = 1000;
    // Where the desktop relays keys later (a portal), the paste key may take this long to get
    // there; the read is then awaited for PasteTimeoutMs from its arrival.
    static constexpr int PasteKeyTimeoutMs = 5000;
    // After the read, the application gets this long to insert the text before the next keys
    // or the next clipboard content: on GNOME the text still goes through Mutter to GTK, which
    // on a busy machine took more than 30 ms and then inserted it after the keys that followed.
    static constexpr int PasteSettleMs = 100;
    // Where the desktop cannot tell when a paste is read, the paste is given this long.
    static constexpr int PasteBlindMs = 250;
    // Clipboard contents beyond this are not saved, and then nothing is pasted over them.
    static constexpr qint64 MaxSavedBytes = 16 * 1024 * 1024;
    // A run is looked at this many UTF-16 units ahead at most; a longer one goes in parts.
    static constexpr int MaxRunUnits = 4096;
    // Positions of characters not typed that a report lists; the count covers all.
    static constexpr int MaxReportedPositions = 64;

    // What could not be typed of one text: the count, and the positions (characters from the
    // text's start, a surrogate pair counting once) of the first of them.
    struct Untyped
    {
        int count = 0;
        QVector<int> positions;
        QString reason; // "pasteOff", "noClipboard", "clipboardBusy", "pasteRefused"
    };
    using Report = std::function<void(const Untyped& untyped)>;

    explicit TextTyper(InputSimulator* input);
    ~TextTyper();

    // Called when a text is left unfinished after its first part, or a paste has been read:
    // the event loop must type the rest (the phone session schedules a turn).
    void setMoreToType(std::function<void()> moreToType) { m_moreToType = std::move(moreToType); }
    // The clipboard to paste through (asked for at the first paste; may give null) and
    // whether the user lets us paste, asked at each text.
    void setPaste(std::function<Clipboard*()> clipboard, std::function<bool()> allowed);

    // Types `text` (after the one being typed, to keep the order), then `keys`; `report`
    // hears once the text is done what of it could not be typed, if anything.
    void start(const QString& text, const QVector<int>& keys, Report report = nullptr);
    bool isTyping() const { return m_job.has_value(); }
    // True while the text waits for the desktop (a clipboard read or a paste): the event loop
    // needs no turn for it, moreToType runs when it can go on.
    bool isWaiting() const;
    // Types the next part for at most `budgetMs`; true once it is all typed (and its key
    // combination pressed), or when nothing was being typed.
    bool continueTyping(int budgetMs);
    enum class EndRestore
    {
        AfterPaste, // a paste already asked for is read first
        Now,        // the clipboard is going away
    };
    // Drops what is left of the text being typed (and of those waiting), logging how much,
    // and puts the user's clipboard back.
    void end(EndRestore restore = EndRestore::AfterPaste);

    // More text, or closing a window, must wait for the text being typed: the characters have
    // to arrive in order and in the window they were meant for. A cancel does not wait.
    static bool waitsForText(const QByteArray& message);

private:
    struct Job
    {
        QString text;
        int next = 0;      // first UTF-16 unit not typed yet
        QVector<int> keys; // the combination pressed after the text
        Report report;
        Untyped untyped;
        bool pasteAllowed = true;
        int countedUnits = 0; // characters before this unit are in countedChars
        int countedChars = 0;
    };
    enum class Wait
    {
        None,
        Save,  // the clipboard is being read
        Taken, // the paste key was pressed, no application has read the run yet
        Settle // read; the application inserts it
    };

    // The end of the run from `from` on whose characters the backend types alike.
    int runEnd(const QString& text, int from, bool* typeable) const;
    // Whether the untypeable run up to `end` goes through keys all the same: it fits the
    // backend's spare keys, or slow keys are all there is.
    bool typesByKeys(int end) const;
    // Pastes text.mid(from, end - from), or counts it as untyped; false while it waits.
    bool pasteRun(int end);
    void countUntyped(int from, int end, const QString& reason);
    void finishJob();
    void waitUntil(Wait wait, int ms);
    void wake();
    void restoreClipboard();
    Clipboard* clipboard() const;

    InputSimulator* m_input;
    std::optional<Job> m_job;
    std::deque<Job> m_queued; // texts started while one waited for the desktop
    std::function<void()> m_moreToType;
    std::function<Clipboard*()> m_clipboardSource;
    std::function<bool()> m_pasteAllowed;

    // The paste in progress and the user's clipboard it displaced.
    Wait m_wait = Wait::None;
    std::optional<ClipboardContent> m_saved;
    bool m_saveRefused = false;  // the content could not be saved during this text
    bool m_pasteRefused = false; // the clipboard did not take a run during this text
    bool m_restoreLater = false; // a dropped text's paste is still out
    bool m_offered = false;      // a run of ours replaced the saved content
    quint64 m_pasteNumber = 0;   // tells a late answer from one of the paste in progress
    bool m_keyDelivered = false; // the paste key of the paste in progress reached the desktop
    QTimer m_wakeTimer;          // runs while a paste is given its time
    // Callbacks of the clipboard and the backend may come after this object is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
