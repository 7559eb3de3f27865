#pragma once

#include <QString>

#include <memory>

// Announces this PC's web client on the local network (DNS-SD over multicast DNS), so that a
// phone finds it, and `<host name>.local` resolves, whatever address the PC has today.
class ServiceAdvertiser
{
public:
    virtual ~ServiceAdvertiser() = default;
    // Announces an HTTP service at `port` under `name` until the advertiser ends. Where nothing
    // on this PC announces services it does nothing but say so in the log, once.
    virtual void advertiseWeb(const QString& name, quint16 port) = 0;
};

// Avahi on the system bus, where there is a system bus.
std::unique_ptr<ServiceAdvertiser> createServiceAdvertiser();
