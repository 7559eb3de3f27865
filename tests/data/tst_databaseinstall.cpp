#include "DataTestSupport.h"

#include <QtTest>

class TestDatabaseInstall : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_context = std::make_unique<TestContext>(); }
    void cleanup()
    {
        releaseDatabases();
        m_context.reset();
    }

    void firstStartInstallsAndLaterStartsCopyNothing();
    void missingTemplateStopsTheInstallation_data();
    void missingTemplateStopsTheInstallation();
    void unusableLiveFileIsKeptAndReported_data();
    void unusableLiveFileIsKeptAndReported();
    void failedCopyLeavesNoLiveFile();
    void registryAndErrorReport();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestDatabaseInstall::firstStartInstallsAndLaterStartsCopyNothing()
{
    {
        LogCapture log;
        QVERIFY(startDatabases());
        QCOMPARE(log.messages().value(0), QStringLiteral("Database path: ") + m_context->liveFolder());
    }
    for (const QString name : {"cfg.db", "log.db", "data.db"}) {
        QCOMPARE(fileBytes(m_context->livePath(name)), fileBytes(m_context->templatePath(name)));
        QFile::remove(m_context->templatePath(name));
    }
    // Nothing but the three files: no temporary copy is left behind.
    QCOMPARE(QDir(m_context->liveFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"cfg.db", "data.db", "log.db"}));
    QCOMPARE(SqlDatabase::database(SqlDatabase::Log).databaseName(), m_context->livePath("log.db"));
    ConfigService::instance()->load();
    ConfigService::instance()->setValue(QStringLiteral("videoPlayer"), QStringLiteral("/opt/vlc"), QString());
    releaseDatabases();

    // A changed template (here: a different database entirely) is not copied over the live file.
    QFile::copy(m_context->livePath("data.db"), m_context->templatePath("cfg.db"));
    QFile::copy(m_context->livePath("data.db"), m_context->templatePath("log.db"));
    QFile::copy(m_context->livePath("cfg.db"), m_context->templatePath("data.db"));
    const QByteArray liveCfg = fileBytes(m_context->livePath("cfg.db"));
    QVERIFY(startDatabases());
    QCOMPARE(fileBytes(m_context->livePath("cfg.db")), liveCfg);
    ConfigService::instance()->load();
    QCOMPARE(ConfigService::instance()->value(QStringLiteral("videoPlayer"), QString()),
             QStringLiteral("/opt/vlc"));
    QVERIFY(SqlDatabase::database(SqlDatabase::Data).tables().contains(QStringLiteral("MediaFolder")));
}

void TestDatabaseInstall::missingTemplateStopsTheInstallation_data()
{
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QStringList>("installed");
    QTest::newRow("cfg.db") << "cfg.db" << QStringList();
    QTest::newRow("log.db") << "log.db" << QStringList({"cfg.db"});
    QTest::newRow("data.db") << "data.db" << QStringList({"cfg.db", "log.db"});
}

void TestDatabaseInstall::missingTemplateStopsTheInstallation()
{
    QFETCH(QString, missing);
    QFETCH(QStringList, installed);
    QVERIFY(QFile::remove(m_context->templatePath(missing)));
    LogCapture warnings(QtWarningMsg);
    QVERIFY(!startDatabases());
    QCOMPARE(QDir(m_context->liveFolder()).entryList(QDir::Files), installed);
    QCOMPARE(warnings.messages().filter(m_context->templatePath(missing)).size(), 1);
}

void TestDatabaseInstall::unusableLiveFileIsKeptAndReported_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("not a database") << QByteArray("notes the user keeps\n").repeated(300);
}

void TestDatabaseInstall::unusableLiveFileIsKeptAndReported()
{
    QFETCH(QByteArray, content);
    const QString dataPath = m_context->livePath("data.db");
    QDir().mkpath(m_context->liveFolder());
    QFile file(dataPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    {
        LogCapture warnings(QtWarningMsg);
        QVERIFY(startDatabases());
        QCOMPARE(warnings.messages().size(), 1);
        QVERIFY2(warnings.messages().first().contains(dataPath), qPrintable(warnings.messages().first()));
    }
    QVERIFY(SqlDatabase::database(SqlDatabase::Config).isOpen());

    // Start-up goes on with empty lists; each statement on the missing database is reported once.
    LogCapture log;
    AppService::instance()->load();
    MediaService::instance()->load();
    QVERIFY(AppService::instance()->apps().isEmpty());
    QVERIFY(MediaService::instance()->folders().isEmpty());
    QVERIFY(!AppService::instance()->insert(std::make_shared<DesktopApp>()));
    QCOMPARE(log.daoErrors().size(), 3);

    // The user's file is neither replaced by the template nor written, now or on a later start.
    releaseDatabases();
    QVERIFY(startDatabases());
    QCOMPARE(fileBytes(dataPath), content);
}

void TestDatabaseInstall::failedCopyLeavesNoLiveFile()
{
    // A template that cannot be read as a file makes the copy fail.
    const QString tpl = m_context->templatePath("data.db");
    QVERIFY(QFile::remove(tpl) && QDir().mkpath(tpl));
    QVERIFY(!startDatabases());
    QCOMPARE(QDir(m_context->liveFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"cfg.db", "log.db"}));
}

void TestDatabaseInstall::registryAndErrorReport()
{
    QVERIFY(!SqlDatabase::database(SqlDatabase::Config).isValid()); // no registry yet
    QVERIFY(startDatabases());
    QVERIFY(!SqlDatabase::database(3).isValid());

    // One report per failed statement, with the statement as written and the driver's reason,
    // also when the statement failed already to prepare. A '%2' in it stays as it is.
    LogCapture log;
    Dao dao;
    const QString sql = QStringLiteral("select '%2' from NoSuchTable");
    QVERIFY(!dao.prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)), sql).exec());
    QVERIFY(!dao.prepare(QSqlQuery(SqlDatabase::database(3)), QStringLiteral("select 1")).exec());
    QVERIFY(
        dao.prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)), QStringLiteral("select 1")).exec());
    const QStringList errors = log.daoErrors();
    QCOMPARE(errors.size(), 2);
    const QString head = QStringLiteral("**Debug** Dao Error: sql: ") + sql + QStringLiteral("\r\nerror: ");
    QVERIFY2(errors.at(0).startsWith(head) && errors.at(0).contains(QStringLiteral("no such table")),
             qPrintable(errors.at(0)));
    QVERIFY(errors.at(1).startsWith(QStringLiteral("**Debug** Dao Error: sql: select 1\r\nerror: ")));

    SqlDatabase::destroyRegistry();
    QVERIFY(!SqlDatabase::database(SqlDatabase::Data).isValid());
}

QTEST_GUILESS_MAIN(TestDatabaseInstall)
#include "tst_databaseinstall.moc"
