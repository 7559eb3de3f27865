#pragma once

#include "platform/Clipboard.h"

// A clipboard whose content the test sets; what the program puts on it is kept in `read`.
class ClipboardFake final : public Clipboard
{
    Q_OBJECT
public:
    using Clipboard::Clipboard;

    bool setText(const QString& text) override;
    void readText(qint64 maxBytes, ReadDone done) override;
    QString name() const override { return QStringLiteral("fake"); }

    // What the next read answers (its text cut to nothing when over the caller's limit).
    ClipboardRead read;
    // Off: setText fails.
    bool accepting = true;
    int reads = 0;
};
