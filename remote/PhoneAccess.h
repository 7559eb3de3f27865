#pragma once

#include "remote/LocalNetwork.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

// A phone the user chose to always allow, and when it last connected.
struct RememberedPhone
{
    QString address;
    QDateTime lastSeen;
};

// Who may reach the PC's ports, as the user set it: whether only the local network is served,
// whether a new phone needs the user's consent before its commands run, and the phones the
// user always allows. Kept in the settings store, so that it holds across restarts.
class PhoneAccess final : public QObject
{
    Q_OBJECT
public:
    using PrefixSource = std::function<QList<InterfacePrefix>()>;

    explicit PhoneAccess(QObject* parent = nullptr);
    // Writes a pending "last seen" time.
    ~PhoneAccess() override;

    // The one instance of the process, shared by the servers and the About page.
    static PhoneAccess* shared();

    bool localNetworkOnly() const;
    void setLocalNetworkOnly(bool on);
    bool askBeforeNewPhone() const;
    void setAskBeforeNewPhone(bool on);

    // Whether a connection from `peer` may be served at all: always with the local-network
    // rule off, otherwise when the peer is on one of this machine's networks.
    bool admitsPeer(const QHostAddress& peer);
    // Whether `address` is loopback or one of this machine's own interface addresses.
    bool isOwnAddress(const QHostAddress& address);
    // Replaces the machine's interfaces with `source` (tests).
    void setPrefixSource(PrefixSource source);

    QList<RememberedPhone> rememberedPhones() const;
    bool isRemembered(const QString& address) const;
    // Adds the phone (written at once), or notes that it was seen again (kept in memory and
    // written within LastSeenWriteMs, or by flush()).
    void remember(const QString& address, const QDateTime& seen = QDateTime::currentDateTimeUtc());
    void forget(const QString& address);
    // Writes what is still only in memory; the program calls it when it quits.
    void flush();
    // A phone that reconnects often costs at most one write of the settings file this often.
    static constexpr int LastSeenWriteMs = 5 * 60 * 1000;

signals:
    void rememberedPhonesChanged();
    // The user no longer allows `address`: a connection from it must end.
    void phoneForgotten(const QString& address);

private:
    void load() const;
    void storePhones();
    bool setFlag(const char* key, bool on);
    // Whether `test` holds for the machine's interfaces, read again when it does not and the
    // copy is older than a moment.
    bool holdsForInterfaces(const std::function<bool(const QList<InterfacePrefix>&)>& test);

    PrefixSource m_prefixSource;
    QList<InterfacePrefix> m_prefixes;
    QElapsedTimer m_prefixesAge;
    mutable bool m_loaded = false;
    mutable QList<RememberedPhone> m_phones;
    QTimer* m_lastSeenWrite = nullptr; // runs while a "last seen" time is not written yet
};
