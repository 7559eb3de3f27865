#pragma once

#include "platform/network/ServiceAdvertiser.h"

#include <QStringList>

// Records what it was asked to announce (tests, and where there is no system bus at all).
class ServiceAdvertiserFake final : public ServiceAdvertiser
{
public:
    void advertiseWeb(const QString& name, quint16 port) override
    {
        m_announced << QStringLiteral("%1 %2").arg(name).arg(port);
    }

    const QStringList& announced() const { return m_announced; }

private:
    QStringList m_announced;
};
