#include "startup/SingleInstance.h"

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

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
