#include "support/VelmoraProcess.h"

#include <QtTest>

// The real program in a fresh home, without a display: it exits with 1 for lack of a tray,
// which happens only after the databases have been installed.
class TestDataFolder : public QObject
{
    Q_OBJECT
private slots:
    void firstStartInstallsIntoTheExecutablesDataFolder();
    void missingTemplatesEndTheProcessWithMinusOne();
};

namespace {

void useOffscreen(VelmoraProcess& velmora)
{
    velmora.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

} // namespace

void TestDataFolder::firstStartInstallsIntoTheExecutablesDataFolder()
{
    VelmoraProcess velmora;
    useOffscreen(velmora);
    velmora.start();
    QCOMPARE(velmora.waitForExit(), 1);
    const QString log = velmora.log();
    // Named after the executable, not after the display name set later.
    const int path = log.indexOf(QStringLiteral("Database path: ") + velmora.dataFolder());
    const int tray = log.indexOf(QStringLiteral("系统托盘可用性"));
    QVERIFY2(path >= 0 && path < tray, qPrintable(log));
    QCOMPARE(QDir(velmora.dataFolder()).entryList(QDir::Files), QStringList({"cfg.db", "data.db", "log.db"}));
    for (const char* name : {"cfg.db", "log.db", "data.db"}) {
        QFile live(velmora.dataFolder() + QLatin1Char('/') + QLatin1String(name));
        QFile tpl(QStringLiteral(VELMORA_BUILD_DIR "/Data/") + QLatin1String(name));
        QVERIFY(live.open(QIODevice::ReadOnly) && tpl.open(QIODevice::ReadOnly));
        QVERIFY2(live.readAll() == tpl.readAll(), name);
    }
}

void TestDataFolder::missingTemplatesEndTheProcessWithMinusOne()
{
    // The same program in a folder of its own, without Data/ beside it.
    QTemporaryDir programDir;
    const QString program = programDir.path() + QStringLiteral("/velmora");
    QVERIFY(QFile::copy(QStringLiteral(VELMORA_BINARY), program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    VelmoraProcess velmora;
    useOffscreen(velmora);
    velmora.start(program);
    QCOMPARE(velmora.waitForExit(), 255);
    QVERIFY2(!velmora.log().contains(QStringLiteral("系统托盘可用性")), qPrintable(velmora.log()));
    QVERIFY(QDir(velmora.dataFolder()).entryList(QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
