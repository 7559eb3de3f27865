#include "remote/PhoneAccess.h"

#include <QDebug>
#include <QGlobalStatic>
#include <QSettings>
#include <QTimer>

namespace {

const char kLocalNetworkOnlyKey[] = "access/localNetworkOnly";
const char kAskBeforeNewPhoneKey[] = "access/askBeforeNewPhone";
const char kPhonesKey[] = "access/rememberedPhones";
// Interfaces are read again at most this often for a peer that is not on a known subnet, so a
// new address (DHCP, a cable plugged in) is seen soon while a flood of strangers costs little.
constexpr qint64 kPrefixRefreshMs = 1000;
// Far more than anyone allows by hand; it bounds what the settings file can grow to.
constexpr int kMaxRememberedPhones = 256;

Q_GLOBAL_STATIC(PhoneAccess, g_sharedAccess)

QSettings settingsStore()
{
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
}

} // namespace

PhoneAccess::PhoneAccess(QObject* parent)
    : QObject(parent)
    , m_prefixSource(&systemInterfacePrefixes)
    , m_lastSeenWrite(new QTimer(this))
{
    m_lastSeenWrite->setObjectName(QStringLiteral("lastSeenWrite"));
    m_lastSeenWrite->setSingleShot(true);
    m_lastSeenWrite->setInterval(LastSeenWriteMs);
    connect(m_lastSeenWrite, &QTimer::timeout, this, &PhoneAccess::storePhones);
}

PhoneAccess::~PhoneAccess()
{
    flush();
}

void PhoneAccess::flush()
{
    if (m_lastSeenWrite->isActive())
        storePhones();
}

PhoneAccess* PhoneAccess::shared()
{
    return g_sharedAccess();
}

bool PhoneAccess::localNetworkOnly() const
{
    return settingsStore().value(QLatin1String(kLocalNetworkOnlyKey), true).toBool();
}

void PhoneAccess::setLocalNetworkOnly(bool on)
{
    if (setFlag(kLocalNetworkOnlyKey, on))
        qInfo() << "Serving" << (on ? "only the local network" : "every network");
}

bool PhoneAccess::askBeforeNewPhone() const
{
    return settingsStore().value(QLatin1String(kAskBeforeNewPhoneKey), true).toBool();
}

void PhoneAccess::setAskBeforeNewPhone(bool on)
{
    if (setFlag(kAskBeforeNewPhoneKey, on))
        qInfo() << "Consent for new phones" << (on ? "required" : "not required");
}

bool PhoneAccess::setFlag(const char* key, bool on)
{
    QSettings settings = settingsStore();
    if (settings.contains(QLatin1String(key)) && settings.value(QLatin1String(key)).toBool() == on)
        return false;
    settings.setValue(QLatin1String(key), on);
    settings.sync();
    return true;
}

bool PhoneAccess::admitsPeer(const QHostAddress& peer)
{
    if (!localNetworkOnly())
        return true;
    return holdsForInterfaces(
        [&peer](const QList<InterfacePrefix>& prefixes) { return isLocalNetworkPeer(peer, prefixes); });
}

bool PhoneAccess::isOwnAddress(const QHostAddress& address)
{
    return holdsForInterfaces([&address](const QList<InterfacePrefix>& prefixes) {
        return isAddressOfThisMachine(address, prefixes);
    });
}

bool PhoneAccess::holdsForInterfaces(const std::function<bool(const QList<InterfacePrefix>&)>& test)
{
    if (!m_prefixesAge.isValid()) {
        m_prefixes = m_prefixSource();
        m_prefixesAge.start();
    }
    if (test(m_prefixes))
        return true;
    if (m_prefixesAge.elapsed() < kPrefixRefreshMs)
        return false;
    m_prefixes = m_prefixSource();
    m_prefixesAge.start();
    return test(m_prefixes);
}

void PhoneAccess::setPrefixSource(PrefixSource source)
{
    m_prefixSource = std::move(source);
    m_prefixesAge.invalidate();
}

void PhoneAccess::load() const
{
    if (m_loaded)
        return;
    m_loaded = true;
    QSettings settings = settingsStore();
    const int count = settings.beginReadArray(QLatin1String(kPhonesKey));
    for (int i = 0; i < count && m_phones.size() < kMaxRememberedPhones; ++i) {
        settings.setArrayIndex(i);
        const QHostAddress address(settings.value(QStringLiteral("address")).toString());
        if (address.isNull())
            continue; // a hand-edited entry that names nothing
        m_phones.append(
            {peerAddressKey(address),
             QDateTime::fromString(settings.value(QStringLiteral("lastSeen")).toString(), Qt::ISODate)});
    }
    settings.endArray();
}

void PhoneAccess::storePhones()
{
    m_lastSeenWrite->stop(); // whatever waited goes with this write
    QSettings settings = settingsStore();
    settings.remove(QLatin1String(kPhonesKey));
    settings.beginWriteArray(QLatin1String(kPhonesKey), m_phones.size());
    for (int i = 0; i < m_phones.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("address"), m_phones.at(i).address);
        settings.setValue(QStringLiteral("lastSeen"), m_phones.at(i).lastSeen.toString(Qt::ISODate));
    }
    settings.endArray();
    // Written at once: the user's choice must survive a crash.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "Remembered phones could not be stored";
    emit rememberedPhonesChanged();
}

QList<RememberedPhone> PhoneAccess::rememberedPhones() const
{
    load();
    return m_phones;
}

bool PhoneAccess::isRemembered(const QString& address) const
{
    load();
    for (const RememberedPhone& phone : qAsConst(m_phones)) {
        if (phone.address == address)
            return true;
    }
    return false;
}

void PhoneAccess::remember(const QString& address, const QDateTime& seen)
{
    load();
    for (RememberedPhone& phone : m_phones) {
        if (phone.address == address) {
            // Not worth a write per connection (a phone may reconnect all day long).
            phone.lastSeen = seen;
            if (!m_lastSeenWrite->isActive())
                m_lastSeenWrite->start();
            emit rememberedPhonesChanged();
            return;
        }
    }
    if (m_phones.size() >= kMaxRememberedPhones) {
        // The one not seen for the longest time makes room.
        auto oldest = m_phones.begin();
        for (auto it = m_phones.begin(); it != m_phones.end(); ++it) {
            if (it->lastSeen < oldest->lastSeen)
                oldest = it;
        }
        m_phones.erase(oldest);
    }
    m_phones.append({address, seen});
    qInfo().noquote() << "Phone always allowed:" << address;
    storePhones();
}

void PhoneAccess::forget(const QString& address)
{
    load();
    const int before = m_phones.size();
    m_phones.erase(
        std::remove_if(m_phones.begin(), m_phones.end(),
                       [&address](const RememberedPhone& phone) { return phone.address == address; }),
        m_phones.end());
    if (m_phones.size() == before)
        return;
    qInfo().noquote() << "Phone no longer allowed:" << address;
    storePhones();
    emit phoneForgotten(address);
}
