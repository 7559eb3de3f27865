#include "app/BatchedLog.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <thread>

namespace {

QList<QByteArray> g_writes;

void record(const char* data, qsizetype size)
{
    g_writes.append(QByteArray(data, int(size)));
}

QByteArray written()
{
    QByteArray all;
    for (const QByteArray& write : qAsConst(g_writes))
        all += write;
    return all;
}

// One pass of the event loop that ends by waiting, as the program's loop does between events.
void runOnePass()
{
    QEventLoop loop;
    QTimer::singleShot(1, &loop, &QEventLoop::quit);
    loop.exec();
}

// The handler installed now, called the way Qt calls it for a message of `type`.
void deliver(QtMsgType type, const char* text)
{
    const QtMessageHandler current = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(current);
    current(type, QMessageLogContext(), QString::fromUtf8(text));
}

} // namespace

class TestBatchedLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linesOfOnePassGoOutTogetherInOrder();
    void linesDoNotWaitLongOrOverfill();
    void fatalLinesAndOtherThreadsAreNotHeld();
    void uninstallWritesWhatIsKeptAndGivesBackTheHandler();
};

void TestBatchedLog::init()
{
    g_writes.clear();
    qSetMessagePattern(QStringLiteral("%{type}|%{message}"));
    BatchedLog::install(record);
}

void TestBatchedLog::cleanup()
{
    BatchedLog::uninstall();
    qSetMessagePattern(QString());
}

void TestBatchedLog::linesOfOnePassGoOutTogetherInOrder()
{
    qDebug() << "first" << 1;
    qInfo().noquote() << "第二 line";
    qWarning("third %d", 3);
    qDebug() << "";              // an empty message is still a line
    QVERIFY(g_writes.isEmpty()); // held until the pass ends
    runOnePass();
    QCOMPARE(g_writes.size(), 1);
    QCOMPARE(QString::fromLocal8Bit(g_writes.first()),
             QStringLiteral("debug|first 1\ninfo|第二 line\nwarning|third 3\ndebug|\n"));

    // Nothing logged: a pass writes nothing.
    runOnePass();
    QCOMPARE(g_writes.size(), 1);
}

void TestBatchedLog::linesDoNotWaitLongOrOverfill()
{
    // A line logged in a long pass goes out with the first line logged a few ms after it.
    qDebug("early");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() <= BatchedLog::MaxDelayMs + 1) {
    }
    qDebug("later");
    QCOMPARE(g_writes, QList<QByteArray>{QByteArray("debug|early\ndebug|later\n")});

    // A pass that logs more than the buffer holds: written in parts, none beyond the bound, in
    // order; a line larger than the buffer goes out whole, after what came before it.
    g_writes.clear();
    QByteArray expected;
    for (int i = 0; i < 3000; ++i) {
        qDebug("line %d of a burst", i);
        expected += "debug|line " + QByteArray::number(i) + " of a burst\n";
    }
    const QByteArray huge(int(BatchedLog::BufferBytes) + 10, 'x');
    qDebug("%s", huge.constData());
    expected += "debug|" + huge + '\n';
    qDebug("after");
    expected += "debug|after\n";
    runOnePass();
    QCOMPARE(written(), expected);
    QVERIFY(g_writes.size() >= 3);
    for (int i = 0; i < g_writes.size(); ++i) {
        if (!g_writes.at(i).contains(huge))
            QVERIFY2(g_writes.at(i).size() <= BatchedLog::BufferBytes, qPrintable(QString::number(i)));
    }
}

void TestBatchedLog::fatalLinesAndOtherThreadsAreNotHeld()
{
    // Qt ends the program right after a fatal message: it and everything before it are out.
    qDebug("before");
    deliver(QtFatalMsg, "the end");
    QCOMPARE(written(), QByteArray("debug|before\nfatal|the end\n"));

    // A line of another thread follows what this thread kept, without waiting for its loop.
    g_writes.clear();
    qDebug("mine");
    std::thread([] { qDebug("theirs"); }).join();
    QCOMPARE(written(), QByteArray("debug|mine\ndebug|theirs\n"));
}

void TestBatchedLog::uninstallWritesWhatIsKeptAndGivesBackTheHandler()
{
    static QStringList before;
    before.clear();
    BatchedLog::uninstall();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { before.append(text); });
    BatchedLog::install(record);
    qDebug("kept");
    BatchedLog::uninstall();
    QCOMPARE(written(), QByteArray("debug|kept\n"));
    QVERIFY(!BatchedLog::isInstalled());
    qDebug("direct");
    QCOMPARE(before, QStringList{QStringLiteral("direct")});
    runOnePass();
    QCOMPARE(written(), QByteArray("debug|kept\n"));
    qInstallMessageHandler(previous);
    BatchedLog::install(record); // for cleanup
}

QTEST_GUILESS_MAIN(TestBatchedLog)
#include "tst_batchedlog.moc"
