#pragma once

#include "platform/clipboard/Clipboard.h"

// A clipboard whose content the test sets; what the program puts on it is kept in `read`.
class ClipboardFake final : public Clipboard
{
    Q_OBJECT
public:
    using Clipboard::Clipboard;

    bool setText(const QString& text) override;
    void readText(qint64 maxBytes, ReadDone done) override;
    QString name() const override { return QStringLiteral("fake"); }
    void saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done) override;
    bool offerTransient(const QString& text, std::function<void()> taken) override;
    bool tellsWhenTaken() const override { return tellsTaken; }
    bool restoreContent(const ClipboardContent& content) override;

    // What a save answers while `content.known`; otherwise the save goes through the text.
    ClipboardContent content;
    // The transient offers in order, and the callback of the last one (a paste calls it).
    QStringList offers;
    std::function<void()> taken;
    bool tellsTaken = true;
    // Saves are answered only when the test calls `answerSave` (a desktop that answers later).
    bool deferSaves = false;
    std::function<void(const ClipboardContent&)> pendingSave;
    void answerSave();
    int restores = 0;

    // What the next read answers (its text cut to nothing when over the caller's limit).
    ClipboardRead read;
    // Off: setText fails.
    bool accepting = true;
    int reads = 0;
};
