#include "platform/network/ServiceAdvertiser.h"

#include "platform/network/ServiceAdvertiserAvahi.h"
#include "platform/network/ServiceAdvertiserFake.h"

#include <QDBusConnection>
#include <QDebug>

std::unique_ptr<ServiceAdvertiser> createServiceAdvertiser()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qInfo() << "mDNS: no system bus, the web client is not announced on the network";
        return std::make_unique<ServiceAdvertiserFake>();
    }
    return std::make_unique<ServiceAdvertiserAvahi>(bus);
}
