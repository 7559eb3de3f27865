#include "support/VelmoraProcess.h"

#include <QtTest>

// The real program, copied under another name, in a fresh home and without a display: it installs
// its databases before it looks for a tray, and runs on without one until a signal ends it.
class TestDataFolder : public QObject
{
    Q_OBJECT
private slots:
    void installsUnderTheExecutablesName_data()
    {
        QTest::addColumn<QString>("templates"); // relative to the program's folder, "bin"
        QTest::newRow("beside the program") << "bin/Data";
        QTest::newRow("installed under share") << "share/velmora/Data";
    }

    void installsUnderTheExecutablesName()
    {
        QFETCH(QString, templates);
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath("bin") && QDir(prefix.path()).mkpath(templates));
        const QString program = prefix.filePath("bin/vm-copy");
        QVERIFY(QFile::copy(VELMORA_BINARY, program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        for (const QString name : {"cfg.db", "log.db", "data.db"})
            QVERIFY(QFile::copy(VELMORA_BUILD_DIR "/Data/" + name, prefix.filePath(templates + "/" + name)));
        VelmoraProcess velmora;
        velmora.environment().insert("QT_QPA_PLATFORM", "offscreen");
        velmora.start(program);
        QVERIFY2(velmora.waitForLog("HTTP服务器已启动，监听端口6888", 60000), qPrintable(velmora.log()));
        velmora.signal(SIGTERM);
        QCOMPARE(velmora.waitForExit(), 0);
        const QString folder = velmora.home() + "/.local/share/vm-copy/Data";
        const int path = velmora.log().indexOf("Database path: " + folder);
        QVERIFY2(path >= 0 && path < velmora.log().indexOf("系统托盘可用性"), qPrintable(velmora.log()));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"cfg.db", "data.db", "log.db"}));
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
