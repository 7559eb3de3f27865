#include "DataTestSupport.h"

#include <QtTest>

class TestDatabaseInstall : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstStartInstallsAndOpensTheLiveCopies();
    void laterStartsKeepTheLiveFilesEvenWhenTemplatesChange();
    void missingTemplateStopsTheInstallation_data();
    void missingTemplateStopsTheInstallation();
    void unusableLiveFileIsKeptAndReported_data();
    void unusableLiveFileIsKeptAndReported();
    void failedCopyLeavesNoLiveFile();
    void liveCopyIsWritableFromAReadOnlyTemplate();
    void registryLookups();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestDatabaseInstall::init()
{
    m_context = std::make_unique<TestContext>();
}

void TestDatabaseInstall::cleanup()
{
    releaseDatabases();
    m_context.reset();
}

void TestDatabaseInstall::firstStartInstallsAndOpensTheLiveCopies()
{
    QVERIFY(!QFileInfo::exists(m_context->liveFolder()));
    LogCapture log;
    QVERIFY(startDatabases());

    QCOMPARE(log.messages(QtDebugMsg).value(0), QStringLiteral("Database path: ") + m_context->liveFolder());
    QVERIFY(log.messages(QtWarningMsg).isEmpty());
    const QList<QPair<int, QString>> expected = {
        {SqlDatabase::Data, QStringLiteral("data.db")},
        {SqlDatabase::Config, QStringLiteral("cfg.db")},
        {SqlDatabase::Log, QStringLiteral("log.db")},
    };
    for (const auto& entry : expected) {
        const QSqlDatabase db = SqlDatabase::database(entry.first);
        QVERIFY2(db.isOpen(), qPrintable(entry.second));
        QCOMPARE(db.connectionName(), entry.second);
        QCOMPARE(db.databaseName(), m_context->livePath(entry.second));
        QCOMPARE(fileBytes(m_context->livePath(entry.second)),
                 fileBytes(m_context->templatePath(entry.second)));
    }
    // Only the three databases sit in the live folder: no temporary copies are left behind.
    QCOMPARE(QDir(m_context->liveFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"cfg.db", "data.db", "log.db"}));

    // Writes go to the live copy, never to the template.
    ConfigService::instance()->load();
    ConfigService::instance()->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/usr/bin/mpv"),
                                        QString());
    QVERIFY(fileBytes(m_context->livePath("cfg.db")) != fileBytes(m_context->templatePath("cfg.db")));
}

void TestDatabaseInstall::laterStartsKeepTheLiveFilesEvenWhenTemplatesChange()
{
    QVERIFY(startDatabases());
    ConfigService::instance()->load();
    ConfigService::instance()->setValue(QStringLiteral("videoPlayer"), QStringLiteral("/opt/vlc"), QString());
    releaseDatabases();

    // A newer template with other content, as after an upgrade of the program.
    {
        QSqlDatabase tpl = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("template"));
        tpl.setDatabaseName(m_context->templatePath("cfg.db"));
        QVERIFY(tpl.open());
        QVERIFY(QSqlQuery(tpl).exec(QStringLiteral(
            "insert into dict (dictName,dictValue) values ('videoPlayer','/template/player')")));
        tpl.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("template"));
    const QByteArray liveBefore = fileBytes(m_context->livePath("cfg.db"));

    LogCapture log;
    QVERIFY(startDatabases());
    QCOMPARE(fileBytes(m_context->livePath("cfg.db")), liveBefore);
    ConfigService::instance()->load();
    QCOMPARE(ConfigService::instance()->value(QStringLiteral("videoPlayer"), QString()),
             QStringLiteral("/opt/vlc"));
    QVERIFY(log.messages(QtWarningMsg).isEmpty());
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

    LogCapture log;
    QVERIFY(!startDatabases());
    QCOMPARE(QDir(m_context->liveFolder()).entryList(QDir::Files), installed);
    QCOMPARE(log.messages(QtWarningMsg).filter(m_context->templatePath(missing)).size(), 1);
    QVERIFY(!SqlDatabase::database(SqlDatabase::Data).isValid());
}

void TestDatabaseInstall::unusableLiveFileIsKeptAndReported_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("not a database") << QByteArray("user notes, not SQLite\n").repeated(300);
}

void TestDatabaseInstall::unusableLiveFileIsKeptAndReported()
{
    QFETCH(QByteArray, content);
    const QString dataPath = m_context->livePath("data.db");
    QVERIFY(QDir().mkpath(m_context->liveFolder()));
    {
        QFile file(dataPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    LogCapture log;
    QVERIFY(startDatabases());
    const QStringList warnings = log.messages(QtWarningMsg);
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains(dataPath), qPrintable(warnings.first()));
    QVERIFY(!SqlDatabase::database(SqlDatabase::Data).isValid());
    QVERIFY(SqlDatabase::database(SqlDatabase::Config).isOpen());

    // Start-up goes on with empty lists; every statement on the missing database is reported once.
    log.clear();
    AppService::instance()->load();
    MediaService::instance()->load();
    QVERIFY(AppService::instance()->apps().isEmpty());
    QVERIFY(MediaService::instance()->folders().isEmpty());
    auto app = std::make_shared<DesktopApp>();
    app->setName(QStringLiteral("Editor"));
    QVERIFY(!AppService::instance()->insert(app));
    QCOMPARE(log.daoErrors().size(), 3);

    // The user's file is neither replaced by the template nor touched.
    QCOMPARE(fileBytes(dataPath), content);
    releaseDatabases();
    QVERIFY(startDatabases());
    QCOMPARE(fileBytes(dataPath), content);
}

void TestDatabaseInstall::failedCopyLeavesNoLiveFile()
{
    // A template that cannot be read as a file makes the copy fail part-way.
    const QString tpl = m_context->templatePath("data.db");
    QVERIFY(QFile::remove(tpl));
    QVERIFY(QDir().mkpath(tpl));

    QVERIFY(!startDatabases());
    QCOMPARE(QDir(m_context->liveFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"cfg.db", "log.db"}));

    // Once the template is back, the next start installs it.
    releaseDatabases();
    QVERIFY(QDir(tpl).removeRecursively());
    QVERIFY(QFile::copy(QStringLiteral(VELMORA_BUILD_DIR "/Data/data.db"), tpl));
    QVERIFY(startDatabases());
    QVERIFY(SqlDatabase::database(SqlDatabase::Data).isOpen());
}

void TestDatabaseInstall::liveCopyIsWritableFromAReadOnlyTemplate()
{
    for (const char* name : {"cfg.db", "log.db", "data.db"})
        QVERIFY(QFile::setPermissions(m_context->templatePath(QLatin1String(name)),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(startDatabases());
    for (const char* name : {"cfg.db", "log.db", "data.db"})
        QVERIFY2(QFileInfo(m_context->livePath(QLatin1String(name))).permissions() & QFile::WriteOwner, name);
}

void TestDatabaseInstall::registryLookups()
{
    // Before the registry exists and for ids never registered: an invalid connection, no error.
    QVERIFY(!SqlDatabase::database(SqlDatabase::Config).isValid());
    QVERIFY(startDatabases());
    QVERIFY(!SqlDatabase::database(3).isValid());
    QVERIFY(!SqlDatabase::database(-1).isValid());

    // Registering under a used id replaces the entry.
    auto other = std::make_shared<SqlDatabase>(nullptr);
    QFile::copy(m_context->livePath("log.db"), m_context->livePath("other.db"));
    QVERIFY(other->open(m_context->livePath("other.db")));
    SqlDatabase::registerDatabase(SqlDatabase::Log, other);
    QCOMPARE(SqlDatabase::database(SqlDatabase::Log).connectionName(), QStringLiteral("other.db"));
    other.reset();
    QVERIFY(SqlDatabase::database(SqlDatabase::Log).isOpen());

    SqlDatabase::destroyRegistry();
    QVERIFY(!SqlDatabase::database(SqlDatabase::Data).isValid());
    QSqlDatabase::removeDatabase(QStringLiteral("other.db"));
}

QTEST_GUILESS_MAIN(TestDatabaseInstall)
#include "tst_databaseinstall.moc"
