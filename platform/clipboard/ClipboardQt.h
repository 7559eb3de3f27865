#pragma once

#include "platform/clipboard/Clipboard.h"

// Qt's own clipboard. On X11 Qt owns the CLIPBOARD selection through its hidden window, which
// answers other programs whether or not a window of ours has the focus. On Wayland the
// compositor only lets a focused window use the clipboard, so there it is a last resort.
class ClipboardQt final : public Clipboard
{
    Q_OBJECT
public:
    using Clipboard::Clipboard;

    bool setText(const QString& text) override;
    void readText(qint64 maxBytes, ReadDone done) override;
    QString name() const override;
};
