#pragma once

#include "platform/clipboard/Clipboard.h"

#include <QDBusConnection>

#include <memory>

// The clipboard on GNOME (Mutter has no data control for other programs) through the clipboard
// of a remote-desktop session of GNOME's own interface (org.gnome.Mutter.RemoteDesktop on the
// session bus), which asks the user nothing and needs no focused window. The session is ours
// alone, apart from any the input uses, and is never started: its clipboard works without,
// and no virtual devices appear. Every call is asynchronous; contents go through pipes.
class ClipboardMutter final : public Clipboard
{
    Q_OBJECT
public:
    // Whether Mutter's remote-desktop interface answers on `bus`.
    static bool available(const QDBusConnection& bus);

    // Opens the session at once, without waiting for it.
    explicit ClipboardMutter(const QDBusConnection& bus);
    ~ClipboardMutter() override;

    // True unless the session failed: a text set while it opens is put on the clipboard as soon
    // as it is open. After a failure the next request opens a new session.
    bool setText(const QString& text) override;
    // Says whether Mutter took the text, once the session is open and Mutter has answered.
    void putText(const QString& text, PutDone done) override;
    // Reads run one at a time (Mutter refuses reads in parallel); others wait their turn.
    void readText(qint64 maxBytes, ReadDone done) override;
    QString name() const override { return QStringLiteral("GNOME Mutter remote desktop"); }
    // Offered as secret; `taken` runs once all of the text went to a program that asked for it
    // (not to Mutter's own copy of each new text).
    bool offerTransient(const QString& text, std::function<void()> taken) override;
    bool tellsWhenTaken() const override { return true; }
    // Every type the clipboard's owner offers, within bounds (what does not fit is skipped and
    // logged), put back with all its types.
    void saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done) override;
    bool restoreContent(const ClipboardContent& content) override;

    bool isReady() const;

    // A read whose owner (or Mutter) does not answer ends after this long as unavailable.
    static constexpr int ReadTimeoutMs = 5000;
    // Reads waiting their turn; more are answered as unavailable at once.
    static constexpr int MaxWaitingReads = 16;
    // Transfers of our text running at once; more are refused.
    static constexpr int MaxSendings = 32;

private:
    class Session;
    std::unique_ptr<Session> d;
};
