#include "DataTestSupport.h"

#include <QtTest>

namespace {

struct DictRow
{
    int dictId;
    QString name;
    QString desc;
    QString value;
    int sortNum;
};

QList<DictRow> dictRows()
{
    QList<DictRow> rows;
    QSqlQuery query(SqlDatabase::database(SqlDatabase::Config));
    query.exec(QStringLiteral("select dictId,dictName,dictDesc,dictValue,sortNum from dict order by dictId"));
    while (query.next())
        rows.append({query.value(0).toInt(), query.value(1).toString(), query.value(2).toString(),
                     query.value(3).toString(), query.value(4).toInt()});
    return rows;
}

} // namespace

class TestServices : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void instancesAreProcessWide();
    void valueFallsBackToTheDefault();
    void duplicateNamesResolveToTheHighestDictId();
    void setValueInsertsOnceThenUpdates();
    void setValueRetriesAnEntryWhoseInsertFailed();
    void listCachesAreSnapshotsUntilLoaded();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestServices::init()
{
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());
}

void TestServices::cleanup()
{
    releaseDatabases();
    m_context.reset();
}

void TestServices::instancesAreProcessWide()
{
    QVERIFY(AppService::instance());
    QCOMPARE(AppService::instance(), AppService::instance());
    QCOMPARE(MediaService::instance(), MediaService::instance());
    QCOMPARE(ConfigService::instance(), ConfigService::instance());
}

void TestServices::valueFallsBackToTheDefault()
{
    QVERIFY(execOn(SqlDatabase::Config,
                   QStringLiteral("insert into dict (dictName,dictValue) values ('audioPlayer','')")));
    QVERIFY(
        execOn(SqlDatabase::Config, QStringLiteral("insert into dict (dictName) values ('videoPlayer')")));
    QVERIFY(execOn(SqlDatabase::Config,
                   QStringLiteral("insert into dict (dictName,dictValue) values ('theme','dark')")));
    ConfigService* config = ConfigService::instance();
    config->load();

    QCOMPARE(config->value(QStringLiteral("audioPlayer"), QString()), QString());
    QCOMPARE(config->value(QStringLiteral("audioPlayer"), QStringLiteral("fallback")),
             QStringLiteral("fallback"));
    QCOMPARE(config->value(QStringLiteral("videoPlayer"), QStringLiteral("fallback")),
             QStringLiteral("fallback"));
    QCOMPARE(config->value(QStringLiteral("missing"), QStringLiteral("fallback")),
             QStringLiteral("fallback"));
    QCOMPARE(config->value(QStringLiteral("theme"), QStringLiteral("fallback")), QStringLiteral("dark"));
    // Keys are exact and case-sensitive.
    QCOMPARE(config->value(QStringLiteral("Theme"), QString()), QString());

    // Reading never touches the database: a row written behind the cache's back is not seen.
    QVERIFY(execOn(SqlDatabase::Config,
                   QStringLiteral("update dict set dictValue='light' where dictName='theme'")));
    QCOMPARE(config->value(QStringLiteral("theme"), QString()), QStringLiteral("dark"));
    config->load();
    QCOMPARE(config->value(QStringLiteral("theme"), QString()), QStringLiteral("light"));
}

void TestServices::duplicateNamesResolveToTheHighestDictId()
{
    QVERIFY(
        execOn(SqlDatabase::Config,
               QStringLiteral("insert into dict (dictId,dictName,dictValue) values (9,'audioPlayer','/new'),"
                              "(4,'audioPlayer','/old')")));
    ConfigService* config = ConfigService::instance();
    config->load();
    QCOMPARE(config->value(QStringLiteral("audioPlayer"), QString()), QStringLiteral("/new"));

    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/chosen"), QString());
    const QList<DictRow> rows = dictRows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).dictId, 4);
    QCOMPARE(rows.at(0).value, QStringLiteral("/old"));
    QCOMPARE(rows.at(1).dictId, 9);
    QCOMPARE(rows.at(1).value, QStringLiteral("/chosen"));
}

void TestServices::setValueInsertsOnceThenUpdates()
{
    ConfigService* config = ConfigService::instance();
    config->load();
    config->setValue(QStringLiteral("videoPlayer"), QString(), QString());
    QList<DictRow> rows = dictRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().name, QStringLiteral("videoPlayer"));
    QCOMPARE(rows.first().desc, QStringLiteral("videoPlayer"));
    QCOMPARE(rows.first().value, QString());
    QCOMPARE(rows.first().sortNum, 0);
    const int dictId = rows.first().dictId;

    config->setValue(QStringLiteral("videoPlayer"), QStringLiteral("/usr/bin/vlc"), QString());
    rows = dictRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().dictId, dictId);
    QCOMPARE(rows.first().value, QStringLiteral("/usr/bin/vlc"));

    // An empty value stores the default; the value survives a reload from the database.
    config->setValue(QStringLiteral("videoPlayer"), QString(), QStringLiteral("/usr/bin/mpv"));
    config->load();
    QCOMPARE(config->value(QStringLiteral("videoPlayer"), QString()), QStringLiteral("/usr/bin/mpv"));
    QCOMPARE(dictRows().size(), 1);
}

void TestServices::setValueRetriesAnEntryWhoseInsertFailed()
{
    // The configuration database is briefly unavailable: the write fails, the cache keeps the value.
    SqlDatabase::destroyRegistry();
    SqlDatabase::createRegistry();
    ConfigService* config = ConfigService::instance();
    config->load();
    LogCapture log;
    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/first"), QString());
    QCOMPARE(log.daoErrors().size(), 1);
    QCOMPARE(config->value(QStringLiteral("audioPlayer"), QString()), QStringLiteral("/first"));

    // Once it is back, the next write must reach it rather than update a row that never existed.
    auto cfg = std::make_shared<SqlDatabase>(nullptr);
    QVERIFY(cfg->open(m_context->livePath(QStringLiteral("cfg.db"))));
    SqlDatabase::registerDatabase(SqlDatabase::Config, cfg);
    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/second"), QString());
    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/third"), QString());
    const QList<DictRow> rows = dictRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value, QStringLiteral("/third"));
}

void TestServices::listCachesAreSnapshotsUntilLoaded()
{
    AppService* appService = AppService::instance();
    MediaService* mediaService = MediaService::instance();
    appService->load();
    mediaService->load();
    QVERIFY(appService->apps().isEmpty());
    QVERIFY(mediaService->folders().isEmpty());

    // The list pages write through stores of their own.
    auto app = std::make_shared<DesktopApp>();
    app->setName(QStringLiteral("Terminal"));
    app->setSortNum(9999);
    QVERIFY(DesktopAppDao().insert(app));
    auto folder = std::make_shared<MediaFolder>();
    folder->setName(QStringLiteral("Music"));
    QVERIFY(MediaFolderDao().insert(folder));
    QVERIFY(appService->apps().isEmpty());
    QVERIFY(mediaService->folders().isEmpty());

    appService->load();
    mediaService->load();
    QCOMPARE(appService->apps().size(), 1);
    QCOMPARE(appService->apps().first()->name(), QStringLiteral("Terminal"));
    QCOMPARE(mediaService->folders().size(), 1);
    const std::shared_ptr<DesktopApp> held = appService->apps().first();

    // A failed reload keeps the previous snapshot.
    SqlDatabase::destroyRegistry();
    appService->load();
    mediaService->load();
    QCOMPARE(appService->apps().size(), 1);
    QCOMPARE(mediaService->folders().size(), 1);

    // A reload replaces the records, but a holder keeps a valid one.
    SqlDatabase::createRegistry();
    auto data = std::make_shared<SqlDatabase>(nullptr);
    QVERIFY(data->open(m_context->livePath(QStringLiteral("data.db"))));
    SqlDatabase::registerDatabase(SqlDatabase::Data, data);
    QVERIFY(DesktopAppDao().remove(app->id()));
    appService->load();
    QVERIFY(appService->apps().isEmpty());
    QCOMPARE(held->name(), QStringLiteral("Terminal"));
}

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
