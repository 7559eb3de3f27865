#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

class Clipboard;
struct ClipboardRead;

// The phone's clipboard commands, run only when the user asks on the phone:
//   "clipboardset" {"text": string, "part": n, "more": bool}
//       puts text on the PC's clipboard. A long text comes in parts numbered from 0, all but
//       the last with "more": true (a browser message holds 64 KiB at most). Answered with
//       "clipboardset" {"ok": true, "length": characters} or {"ok": false, "error", "message"}.
//   "clipboardget" {}
//       answered with "clipboardget" {"ok": true, "text", "takenAt": ms since the epoch}, or
//       {"ok": false, "error", "message"}; only while the user allows the phone to read it.
// Errors: "readOff", "tooLarge", "notText", "badEncoding", "badText", "unavailable". The text
// itself is never logged.
class ClipboardCommands final
{
public:
    using Reply = std::function<void(const QString& command, const QJsonObject& params)>;
    // Whether the user allows the phone to read the clipboard, asked at each request.
    using ReadAllowed = std::function<bool()>;
    // Milliseconds since the epoch.
    using WallClock = std::function<qint64()>;

    // The configuration entry of the user's choice: "1" while the phone may read the
    // clipboard; off when missing.
    static constexpr const char* ReadSettingKey = "clipboardRead";
    // Texts beyond this many bytes of UTF-8 are refused both ways.
    static constexpr qint64 MaxTextBytes = 1024 * 1024;

    ClipboardCommands(std::unique_ptr<Clipboard> clipboard, ReadAllowed readAllowed, WallClock nowMs);
    ~ClipboardCommands();

    static bool isClipboardCommand(const QString& command);
    // The clipboard itself, which typing pastes through too.
    Clipboard* clipboard() const { return m_clipboard.get(); }
    // Runs `command` for the phone `sender` (any value that tells phones apart); `reply`
    // answers that phone. False for commands that are not ours.
    bool handle(const QString& command, const QJsonObject& params, const void* sender, const Reply& reply);

private:
    void receivePart(const QJsonObject& params, const void* sender, const Reply& reply);
    void read(const Reply& reply);
    void dropIncoming();

    std::unique_ptr<Clipboard> m_clipboard;
    ReadAllowed m_readAllowed;
    WallClock m_nowMs;
    // A text arriving in parts.
    QString m_incoming;
    qint64 m_incomingBytes = 0;
    int m_nextPart = 0;
    bool m_incomingTooLarge = false;
    const void* m_incomingSender = nullptr;
};
