#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// Tells the user something on the desktop, with at most one action they may pick (a button on
// the notice, or a click on it where there are no buttons).
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Shows a notice; `actionLabel` empty for none. A newer notice replaces the older one's action.
    virtual void notify(const QString& title, const QString& body, const QString& actionLabel) = 0;

signals:
    // The user picked the action of the latest notice.
    void actionInvoked();
};

// Shows a notice some other way (the tray balloon) where the desktop has no notification service.
using NotifierFallback = std::function<void(const QString& title, const QString& body)>;

// The desktop session's notification service, else `fallback`.
std::unique_ptr<DesktopNotifier> createDesktopNotifier(NotifierFallback fallback);
