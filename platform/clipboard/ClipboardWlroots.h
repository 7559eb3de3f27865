#pragma once

#include "platform/clipboard/Clipboard.h"

#include <memory>

// The clipboard of a wlroots compositor (sway, Hyprland, labwc, river, Wayfire) through its
// data-control protocol, which needs no focused surface, unlike a Wayland window's clipboard.
// A connection of its own to the compositor; transfers run through pipes watched by the event
// loop, so a slow or stuck peer never blocks it.
class ClipboardWlroots final : public Clipboard
{
    Q_OBJECT
public:
    // Null when no compositor is reachable or it lacks data control.
    static std::unique_ptr<ClipboardWlroots> open();
    ~ClipboardWlroots() override;

    bool setText(const QString& text) override;
    void readText(qint64 maxBytes, ReadDone done) override;
    QString name() const override { return QStringLiteral("wlroots data-control"); }
    bool offerTransient(const QString& text, std::function<void()> taken) override;
    bool tellsWhenTaken() const override { return true; }
    // Every type the clipboard offers, read one after the other, and put back as they were.
    void saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done) override;
    bool restoreContent(const ClipboardContent& content) override;

    // A read whose owner does not answer ends after this long as unavailable.
    static constexpr int ReadTimeoutMs = 5000;

private:
    struct Private;
    explicit ClipboardWlroots(std::unique_ptr<Private> d);
    using Types = QVector<QPair<QString, QByteArray>>;
    bool offer(const Types& types, std::function<void()> taken);
    struct Save;
    void saveNext(const std::shared_ptr<Save>& save);
    std::unique_ptr<Private> d;
};
