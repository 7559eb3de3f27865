#include "startup/SingleInstance.h"
#include "support/LogCapture.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

// The later start blocks while it waits for the answer, so it runs beside the event loop that
// lets the first copy answer.
bool activateFromAnotherThread(SingleInstance& later, int timeoutMs)
{
    std::atomic<bool> answered{false};
    QScopedPointer<QThread> thread(QThread::create([&] { answered = later.activateRunning(timeoutMs); }));
    thread->start();
    while (!thread->wait(10))
        QCoreApplication::processEvents();
    return answered;
}

bool requestLinksFromAnotherThread(SingleInstance& later, QList<PairingLink>* links, int timeoutMs = 5000)
{
    std::atomic<bool> answered{false};
    QScopedPointer<QThread> thread(
        QThread::create([&] { answered = later.requestPairingLinks(links, timeoutMs); }));
    thread->start();
    while (!thread->wait(10))
        QCoreApplication::processEvents();
    return answered;
}

bool offerFromAnotherThread(SingleInstance& later, const QStringList& paths, int* offered)
{
    std::atomic<bool> answered{false};
    QScopedPointer<QThread> thread(
        QThread::create([&] { answered = later.requestFileOffer(paths, offered, 5000); }));
    thread->start();
    while (!thread->wait(10))
        QCoreApplication::processEvents();
    return answered;
}

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef");

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void laterStartShowsTheFirst_data();
    void laterStartShowsTheFirst();
    void endedOrCrashedCopyLeavesTheWayFree();
    void strayRequestsShowNothing_data();
    void strayRequestsShowNothing();
    void silentHolderIsNoAnswer();
    void pairingLinksGoToTheSameUserOnly();
    void filesToSendReachTheRunningCopy();

private:
    QTemporaryDir m_runtime;
};

void TestSingleInstance::laterStartShowsTheFirst_data()
{
    QTest::addColumn<QString>("firstData");
    QTest::addColumn<QString>("laterData");
    QTest::addColumn<bool>("sameInstance");
    QTest::newRow("same data folder") << "/home/a/.local/share/velmora"
                                      << "/home/a/.local/share/velmora" << true;
    QTest::newRow("same folder written differently") << "/home/a/.local/share/velmora"
                                                     << "/home/a/.local/share//velmora/" << true;
    // The test suite runs copies in fresh homes side by side.
    QTest::newRow("another home") << "/home/a/.local/share/velmora"
                                  << "/tmp/xyz/.local/share/velmora" << false;
}

void TestSingleInstance::laterStartShowsTheFirst()
{
    QFETCH(QString, firstData);
    QFETCH(QString, laterData);
    QFETCH(bool, sameInstance);

    SingleInstance first(firstData, m_runtime.path());
    QSignalSpy shown(&first, &SingleInstance::activationRequested);
    QVERIFY(first.claim());
    SingleInstance later(laterData, m_runtime.path());
    QCOMPARE(later.claim(), !sameInstance);
    if (!sameInstance)
        return;
    QVERIFY(activateFromAnotherThread(later, 5000));
    QCOMPARE(shown.count(), 1);
    QVERIFY(activateFromAnotherThread(later, 5000)); // and again: every start is answered
    QCOMPARE(shown.count(), 2);
}

void TestSingleInstance::endedOrCrashedCopyLeavesTheWayFree()
{
    const QString data = QStringLiteral("/home/b/.local/share/velmora");
    QString socketPath;
    {
        SingleInstance first(data, m_runtime.path());
        QVERIFY(first.claim());
        socketPath = first.socketPath();
    }
    QVERIFY(!QFile::exists(socketPath));

    // A crash leaves the socket file behind, but no lock holder: the next start takes over.
    QFile leftover(socketPath);
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    SingleInstance next(data, m_runtime.path());
    QVERIFY(next.claim());
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    QVERIFY(probe.waitForConnected(2000));
}

void TestSingleInstance::strayRequestsShowNothing_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("another word") << QByteArray("quit\n");
    QTest::newRow("cut short") << QByteArray("sho");
    QTest::newRow("endless line") << QByteArray(1 << 20, 'x');
    QTest::newRow("endless file list") << "send\n" + QByteArray(1 << 20, 'x');
}

void TestSingleInstance::strayRequestsShowNothing()
{
    QFETCH(QByteArray, request);
    SingleInstance first(QStringLiteral("/home/c/.local/share/velmora"), m_runtime.path());
    QSignalSpy shown(&first, &SingleInstance::activationRequested);
    QVERIFY(first.claim());

    QLocalSocket stranger;
    stranger.connectToServer(first.socketPath());
    QVERIFY(stranger.waitForConnected(2000));
    stranger.write(request);
    stranger.flush();
    QTest::qWait(200);
    stranger.disconnectFromServer();
    QTest::qWait(50);
    QCOMPARE(shown.count(), 0);
    // The door stays open for a real request.
    SingleInstance later(QStringLiteral("/home/c/.local/share/velmora"), m_runtime.path());
    QVERIFY(activateFromAnotherThread(later, 5000));
    QCOMPARE(shown.count(), 1);
}

void TestSingleInstance::silentHolderIsNoAnswer()
{
    // A lock holder that never listens (hung, or still starting): the later start gives up in time.
    const QString data = QStringLiteral("/home/d/.local/share/velmora");
    SingleInstance probe(data, m_runtime.path());
    QLockFile holder(probe.socketPath() + QStringLiteral(".lock"));
    QVERIFY(holder.tryLock(0));
    SingleInstance later(data, m_runtime.path());
    QVERIFY(!later.claim());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!later.activateRunning(300));
    QVERIFY(timer.elapsed() < 3000);
}

void TestSingleInstance::pairingLinksGoToTheSameUserOnly()
{
    const QString data = QStringLiteral("/home/e/.local/share/velmora");
    SingleInstance first(data, m_runtime.path());
    QSignalSpy shown(&first, &SingleInstance::activationRequested);
    first.setPairingLinksProvider([] {
        return QList<PairingLink>{{"http://10.0.0.5:6888/#token=" + kToken, "Wi-Fi"},
                                  {"http://192.168.1.9:6888/#token=" + kToken, "eth\t0\nx"}};
    });
    QVERIFY(first.claim());

    // A terminal emulator sets LOGNAME, a service manager may set neither: still the same user.
    qputenv("LOGNAME", "terminal-login");
    qunsetenv("USER");
    SingleInstance later(data, m_runtime.path());
    QList<PairingLink> links;
    {
        LogCapture log;
        QVERIFY(requestLinksFromAnotherThread(later, &links));
        QCOMPARE(log.count("Pairing links requested"), 1);
        QCOMPARE(log.count(kToken), 0); // the links hold the token: never logged
    }
    QCOMPARE(links.size(), 2);
    QCOMPARE(links.at(0).url, "http://10.0.0.5:6888/#token=" + kToken);
    QCOMPARE(links.at(0).label, QStringLiteral("Wi-Fi"));
    QCOMPARE(links.at(1).label, QStringLiteral("eth 0 x")); // a label cannot break the framing
    QCOMPARE(shown.count(), 0);

    // A copy without addresses answers with an empty list, which is still an answer.
    first.setPairingLinksProvider([] { return QList<PairingLink>(); });
    QVERIFY(requestLinksFromAnotherThread(later, &links));
    QVERIFY(links.isEmpty());

    // Another user at either end: the running copy hangs up, the asking one does not listen.
    first.setPeerCheck([](qintptr) { return false; });
    QVERIFY(!requestLinksFromAnotherThread(later, &links, 2000));
    QVERIFY(links.isEmpty());
    first.setPeerCheck([](qintptr) { return true; });
    later.setPeerCheck([](qintptr) { return false; });
    QVERIFY(!requestLinksFromAnotherThread(later, &links, 2000));

    // A runtime folder others may enter could hold a socket of theirs: not asked at all.
    QTemporaryDir open;
    QVERIFY(QFile::setPermissions(open.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ExeOther));
    SingleInstance elsewhere(data, open.path());
    QVERIFY(elsewhere.claim());
    SingleInstance asking(data, open.path());
    QVERIFY(!requestLinksFromAnotherThread(asking, &links, 2000));

    // Nobody running: a quick no.
    SingleInstance nobody(QStringLiteral("/home/f/.local/share/velmora"), m_runtime.path());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!nobody.requestPairingLinks(&links, 5000));
    QVERIFY(timer.elapsed() < 2000);
}

// `velmora --send`: the paths arrive exactly, whatever characters they hold, and the answer is
// how many the running copy offered; a path that is not absolute ends the request unheard.
void TestSingleInstance::filesToSendReachTheRunningCopy()
{
    const QString data = QStringLiteral("/home/g/.local/share/velmora");
    SingleInstance first(data, m_runtime.path());
    QStringList asked;
    int accept = 2;
    first.setFileOfferHandler([&](const QStringList& paths) {
        asked = paths;
        return qMin(accept, paths.size());
    });
    QVERIFY(first.claim());
    SingleInstance later(data, m_runtime.path());

    const QStringList paths = {QStringLiteral("/tmp/a b%20.txt"), QStringLiteral("/tmp/line\nbreak"),
                               QStringLiteral("/tmp/Ünïcode.pdf")};
    int offered = -1;
    QVERIFY(offerFromAnotherThread(later, paths, &offered));
    QCOMPARE(asked, paths);
    QCOMPARE(offered, 2);
    accept = 0; // no phone connected
    QVERIFY(offerFromAnotherThread(later, paths.mid(0, 1), &offered));
    QCOMPARE(offered, 0);

    asked.clear();
    QLocalSocket stranger;
    stranger.connectToServer(first.socketPath());
    QVERIFY(stranger.waitForConnected(2000));
    stranger.write("send\n/tmp/fine\nrelative/path\n\n");
    QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);
    QVERIFY(asked.isEmpty());

    SingleInstance nobody(QStringLiteral("/home/h/.local/share/velmora"), m_runtime.path());
    QVERIFY(!nobody.requestFileOffer(paths, &offered, 2000));
    QCOMPARE(offered, -1);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
