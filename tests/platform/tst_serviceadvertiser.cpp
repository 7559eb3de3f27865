// The web client announced through a stand-in for avahi-daemon on a private bus: what reaches
// Avahi, a name taken on the network, Avahi missing, starting late and restarting.
#include "platform/network/ServiceAdvertiserAvahi.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QTest>

#include <memory>

// One entry group: records its calls as text, and says its state when told to.
class FakeEntryGroup final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.EntryGroup")
public:
    explicit FakeEntryGroup(QStringList* calls)
        : m_calls(calls)
    {
    }

public slots:
    void AddService(int interface, int protocol, uint flags, const QString& name, const QString& type,
                    const QString& domain, const QString& host, ushort port, const QList<QByteArray>& txt)
    {
        *m_calls << QStringLiteral("AddService %1 %2 %3 [%4] %5 [%6] [%7] %8 %9")
                        .arg(interface)
                        .arg(protocol)
                        .arg(flags)
                        .arg(name, type, domain, host)
                        .arg(port)
                        .arg(QString::fromUtf8(txt.value(0)));
    }
    void Commit() { *m_calls << QStringLiteral("Commit"); }
    void Reset() { *m_calls << QStringLiteral("Reset"); }
    void Free() { *m_calls << QStringLiteral("Free"); }

signals:
    void StateChanged(int state, const QString& error);

private:
    QStringList* m_calls;
};

// The daemon's server object at "/", on a connection of its own as avahi-daemon would have.
class FakeAvahi final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.Server")
public:
    QStringList calls;
    int state = 2; // running
    bool asked = false;
    std::vector<std::unique_ptr<FakeEntryGroup>> groups;

    FakeAvahi(const QString& address, const QString& connectionName)
        : m_connection(QDBusConnection::connectToBus(address, connectionName))
    {
        m_connection.registerObject(QStringLiteral("/"), this,
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        m_connection.registerService(QStringLiteral("org.freedesktop.Avahi"));
    }
    ~FakeAvahi() override { QDBusConnection::disconnectFromBus(m_connection.name()); }

    void setState(int newState)
    {
        state = newState;
        emit StateChanged(newState, QString());
    }
    void groupSays(int groupState) { emit groups.back()->StateChanged(groupState, QString()); }

public slots:
    int GetState()
    {
        asked = true;
        return state;
    }
    QString GetAlternativeServiceName(const QString& name) { return name + QStringLiteral(" #2"); }
    QDBusObjectPath EntryGroupNew()
    {
        groups.push_back(std::make_unique<FakeEntryGroup>(&calls));
        const QString path = QStringLiteral("/Client1/EntryGroup%1").arg(groups.size());
        m_connection.registerObject(path, groups.back().get(),
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        calls << QStringLiteral("EntryGroupNew");
        return QDBusObjectPath(path);
    }

signals:
    void StateChanged(int state, const QString& error);

private:
    QDBusConnection m_connection;
};

namespace {
const QString Added = QStringLiteral("AddService -1 -1 0 [Velmora on pc] _http._tcp [] [] 6888 path=/");
}

class tst_ServiceAdvertiser : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    int m_connections = 0;

    QDBusConnection connect() { return QDBusConnection::connectToBus(m_bus.address(), name()); }
    QString name() { return QStringLiteral("advertiser%1").arg(++m_connections); }
    static bool waitForCalls(const FakeAvahi& avahi, const QStringList& calls)
    {
        return QTest::qWaitFor([&] { return avahi.calls == calls; }, 10000);
    }

private slots:
    void initTestCase()
    {
        qDBusRegisterMetaType<QList<QByteArray>>();
        if (PrivateBus::daemon().isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        QString error;
        QVERIFY2(m_bus.start(&error), qPrintable(error));
    }

    // The service, its type, port and path under Avahi's own host name; withdrawn at the end.
    // Where the name is taken, Avahi's alternative replaces it in the same group.
    void announcesAndTakesAnotherNameOnCollision()
    {
        LogCapture log;
        FakeAvahi avahi(m_bus.address(), name());
        auto advertiser = std::make_unique<ServiceAdvertiserAvahi>(connect());
        advertiser->advertiseWeb(QStringLiteral("Velmora on pc"), 6888);
        QVERIFY2(waitForCalls(avahi, {"EntryGroupNew", Added, "Commit"}), qPrintable(avahi.calls.join('\n')));
        avahi.groupSays(ServiceAdvertiserAvahi::GroupEstablished);
        QTRY_COMPARE(log.count("mDNS: the web client is announced as Velmora on pc on port 6888"), 1);

        avahi.calls.clear();
        avahi.groupSays(ServiceAdvertiserAvahi::GroupCollision);
        const QString renamed = QString(Added).replace("Velmora on pc", "Velmora on pc #2");
        QVERIFY2(waitForCalls(avahi, {"Reset", renamed, "Commit"}), qPrintable(avahi.calls.join('\n')));
        QCOMPARE(avahi.groups.size(), size_t(1));

        avahi.calls.clear();
        advertiser.reset();
        QVERIFY(waitForCalls(avahi, {"Free"}));
    }

    // The host name is being registered again: the service waits for it, then comes back.
    void waitsWhileAvahiRegistersItsName()
    {
        FakeAvahi avahi(m_bus.address(), name());
        avahi.state = ServiceAdvertiserAvahi::ServerRegistering;
        ServiceAdvertiserAvahi advertiser(connect());
        advertiser.advertiseWeb(QStringLiteral("Velmora on pc"), 6888);
        QTRY_VERIFY(avahi.asked);
        avahi.setState(ServiceAdvertiserAvahi::ServerRunning);
        QVERIFY(waitForCalls(avahi, {"EntryGroupNew", Added, "Commit"}));

        avahi.calls.clear();
        avahi.setState(ServiceAdvertiserAvahi::ServerCollision);
        QVERIFY(waitForCalls(avahi, {"Reset"}));
        avahi.setState(ServiceAdvertiserAvahi::ServerRunning);
        QVERIFY(waitForCalls(avahi, {"Reset", Added, "Commit"}));
    }

    // Without Avahi: one log line, however often asked; once it starts, and again after it
    // restarted, the service is announced on the daemon there is now.
    void withoutAvahiSaysSoOnceAndAnnouncesWhenItComes()
    {
        LogCapture log;
        ServiceAdvertiserAvahi advertiser(connect());
        advertiser.advertiseWeb(QStringLiteral("Velmora on pc"), 6888);
        advertiser.advertiseWeb(QStringLiteral("Velmora on pc"), 6888);
        const QString absent = QStringLiteral("mDNS: Avahi is not running");
        QTRY_COMPARE(log.count(absent), 1);

        auto avahi = std::make_unique<FakeAvahi>(m_bus.address(), name());
        QVERIFY2(waitForCalls(*avahi, {"EntryGroupNew", Added, "Commit"}),
                 qPrintable(avahi->calls.join('\n')));
        avahi.reset();
        FakeAvahi restarted(m_bus.address(), name());
        QVERIFY2(waitForCalls(restarted, {"EntryGroupNew", Added, "Commit"}),
                 qPrintable(restarted.calls.join('\n')));
        QCOMPARE(log.count(absent), 1);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceAdvertiser)
#include "tst_serviceadvertiser.moc"
