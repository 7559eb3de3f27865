#pragma once

#include "platform/clipboard/Clipboard.h"

// Qt's own clipboard. On X11 Qt owns the CLIPBOARD selection through its hidden window, which
// answers other programs whether or not a window of ours has the focus. On Wayland the
// compositor only lets a focused window use the clipboard, so there it is a last resort.
// Every program's read of what we offer is answered from our event loop.
class ClipboardQt final : public Clipboard
{
    Q_OBJECT
public:
    using Clipboard::Clipboard;

    bool setText(const QString& text) override;
    void readText(qint64 maxBytes, ReadDone done) override;
    // Every type of the clipboard and, where there is one, of the primary selection: a paste
    // goes through both, since xterm's Shift+Insert pastes the selection and GTK's and Qt's
    // the clipboard.
    void saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done) override;
    bool offerTransient(const QString& text, std::function<void()> taken) override;
    bool tellsWhenTaken() const override { return true; }
    bool restoreContent(const ClipboardContent& content) override;
    QString name() const override;
};
