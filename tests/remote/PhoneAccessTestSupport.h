#pragma once

// The consent tests' fixture: a server that asks a fake user about loopback phones standing in
// for phones on the network, with settings of its own and a clock the test moves.

#include "RemoteTestSupport.h"

#include "platform/input/InputBackendFake.h"
#include "remote/LocalNetwork.h"
#include "remote/PhoneAccess.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

inline QByteArray moveLine(int dx)
{
    return "{\"command\":\"mousemove\",\"params\":{\"dx\":" + QByteArray::number(dx) + "}}\n";
}

// Answers like the user would, when the test says so.
class FakeAsker final : public PhoneConsentAsker
{
public:
    QStringList asked; // every address asked about, in order
    int cancelled = 0;
    int timeoutMs = 0;
    bool otherUser = false; // the last question was about another user's program

    void ask(const QString& address, Who who, int timeout, Callback answered) override
    {
        otherUser = who == Who::OtherUser;
        asked << address;
        timeoutMs = timeout;
        m_answered = std::move(answered);
    }
    void cancel() override
    {
        ++cancelled;
        m_answered = nullptr;
    }
    bool waiting() const { return m_answered != nullptr; }
    void answer(Answer answer)
    {
        Callback answered = std::move(m_answered);
        m_answered = nullptr;
        answered(answer);
    }

private:
    Callback m_answered;
};

// A phone connecting from a chosen loopback address (127.0.0.2 is another machine here).
struct TestPhone
{
    QTcpSocket socket;

    // `bound` learns the phone's own port before it connects.
    explicit TestPhone(quint16 port, const char* from = "127.0.0.1",
                       const std::function<void(quint16)>& bound = {})
    {
        socket.bind(QHostAddress(QString::fromLatin1(from)));
        if (bound)
            bound(socket.localPort());
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes) { socket.write(bytes), socket.flush(); }
    // The server shares this thread, so waiting must keep the event loop turning.
    bool closedByServer()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
};

// The base of the consent tests; each case starts from startClean().
class PhoneAccessFixture : public QObject
{
protected:
    QTemporaryDir m_settingsDir;
    std::unique_ptr<PhoneAccess> m_access;
    std::unique_ptr<Server> m_server;
    InputBackendFake* m_fake = nullptr;
    FakeAsker* m_asker = nullptr;
    QStringList m_events;
    qint64 m_now = 1000000;

    // A server as the program sets it up, except that loopback phones need consent too.
    void makeServer()
    {
        m_server.reset();
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_server = std::make_unique<Server>(std::move(fake), nullptr);
        auto asker = std::make_unique<FakeAsker>();
        m_asker = asker.get();
        m_server->setAccess(m_access.get(), std::move(asker));
        m_server->setLoopbackTrusted(false);
        m_server->setClock([this] { return m_now; });
        recordServerEvents(m_server.get(), this, &m_events);
        QVERIFY(m_server->start(0));
        m_events.clear();
    }
    quint16 port() const { return m_server->serverPort(); }
    int moves() const { return m_fake->records().size(); }

    void useOwnSettings()
    {
        // Settings go to a file of the test's own, never the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    }
    void startClean()
    {
        QFile::remove(QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")).fileName());
        m_access = std::make_unique<PhoneAccess>();
        m_access->setPrefixSource([] { return QList<InterfacePrefix>{}; });
        makeServer();
    }
};
