#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// What reading the PC's clipboard gave.
struct ClipboardRead
{
    enum class Result
    {
        Text,        // `text` holds it (possibly empty: an empty clipboard)
        NotText,     // something else (a picture, files) is on the clipboard
        BadEncoding, // text whose bytes are not valid UTF-8
        TooLarge,    // more than the caller's limit
        Unavailable, // the desktop gave no answer
    };
    Result result = Result::Unavailable;
    QString text;
};

// The desktop's clipboard (the one pasted with Ctrl+V), reachable while another window has
// the focus. Text only.
class Clipboard : public QObject
{
    Q_OBJECT
public:
    using ReadDone = std::function<void(const ClipboardRead& read)>;
    using PutDone = std::function<void(bool taken)>;

    using QObject::QObject;

    // Puts `text` on the clipboard; false when the desktop cannot take it.
    virtual bool setText(const QString& text) = 0;
    // Puts `text` on the clipboard and says whether the desktop took it; `done` runs once, now
    // or later, never after this object is gone. Desktops that answer later override it.
    virtual void putText(const QString& text, PutDone done) { done(setText(text)); }
    // Reads the clipboard; `done` runs once, now or later, never after this object is gone.
    // Texts beyond `maxBytes` of UTF-8 are not passed on.
    virtual void readText(qint64 maxBytes, ReadDone done) = 0;
    // Its name in the log ("X11", "wlroots data-control").
    virtual QString name() const = 0;
};

// The implementation for this desktop session.
std::unique_ptr<Clipboard> createClipboard();

// Decodes clipboard bytes offered as UTF-8 text; BadEncoding when they are not.
ClipboardRead clipboardTextFromUtf8(const QByteArray& bytes, qint64 maxBytes);
