#pragma once

#include "platform/session/DesktopNotifier.h"

#include <QVector>

// Records every notice; pick() plays the user choosing the action of the latest one.
class DesktopNotifierFake final : public DesktopNotifier
{
    Q_OBJECT
public:
    struct Notice
    {
        QString title;
        QString body;
        QString actionLabel;
    };

    using DesktopNotifier::DesktopNotifier;
    void notify(const QString& title, const QString& body, const QString& actionLabel) override
    {
        notices.append({title, body, actionLabel});
    }
    void pick()
    {
        if (!notices.isEmpty() && !notices.constLast().actionLabel.isEmpty())
            emit actionInvoked();
    }

    QVector<Notice> notices;
};
