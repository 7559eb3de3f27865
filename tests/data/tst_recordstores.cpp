#include "DataTestSupport.h"

#include <QtTest>

namespace {

std::shared_ptr<DesktopApp> makeApp(const QString& name, int sortNum)
{
    auto app = std::make_shared<DesktopApp>();
    app->setName(name);
    app->setPath(QStringLiteral("/usr/bin/") + name);
    app->setSortNum(sortNum);
    return app;
}

QStringList names(const QList<std::shared_ptr<DesktopApp>>& apps)
{
    QStringList result;
    for (const auto& app : apps)
        result << app->name();
    return result;
}

// dictId:dictName=dictValue of every row, by dictId.
QStringList dictRows()
{
    QStringList rows;
    QSqlQuery query(SqlDatabase::database(SqlDatabase::Config));
    query.exec(QStringLiteral("select dictId,dictName,dictDesc,dictValue,sortNum from dict order by dictId"));
    while (query.next())
        rows << QStringLiteral("%1:%2(%3)=%4/%5")
                    .arg(query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                         query.value(3).toString(), query.value(4).toString());
    return rows;
}

} // namespace

class TestRecordStores : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_context = std::make_unique<TestContext>();
        QVERIFY(startDatabases());
    }
    void cleanup()
    {
        releaseDatabases();
        m_context.reset();
    }

    void listsAreOrderedBySortNumThenIdWithNullFirst();
    void insertSetsTheKeySoUpdateAndRemoveHitThatRow();
    void textIsBoundNeverSpliced();
    void failedSelectKeepsTheListAndTheSnapshot();
    void configValuesAndDuplicateNames();
    void setValueInsertsOnceThenUpdatesThatRow();
    void setValueRetriesAnEntryWhoseInsertFailed();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestRecordStores::listsAreOrderedBySortNumThenIdWithNullFirst()
{
    DesktopAppDao apps;
    for (const auto& app :
         {makeApp("late", 9999), makeApp("second", 5), makeApp("first", 1), makeApp("third", 5)})
        QVERIFY(apps.insert(app));
    QVERIFY(execOn(SqlDatabase::Data, QStringLiteral("insert into DesktopApp (name) values ('unsorted')")));
    QList<std::shared_ptr<DesktopApp>> list;
    apps.selectAll(list);
    QCOMPARE(names(list), QStringList({"unsorted", "first", "second", "third", "late"}));
    QCOMPARE(list.first()->sortNum(), 0);
    QCOMPARE(list.first()->path(), QString());
}

void TestRecordStores::insertSetsTheKeySoUpdateAndRemoveHitThatRow()
{
    DesktopAppDao apps;
    QVERIFY(apps.insert(makeApp("keep", 1)));
    auto app = makeApp("edit", 2);
    QVERIFY(apps.insert(app));
    app->setName(QStringLiteral("edited"));
    QVERIFY(apps.update(app));
    QList<std::shared_ptr<DesktopApp>> list;
    apps.selectAll(list);
    QCOMPARE(names(list), QStringList({"keep", "edited"}));
    QCOMPARE(list.at(1)->id(), app->id());
    QVERIFY(apps.remove(app->id()));
    QVERIFY(apps.remove(app->id())); // no such row: not an error
    apps.selectAll(list);
    QCOMPARE(names(list), QStringList({"keep"}));

    MediaFolderDao folders;
    auto folder = std::make_shared<MediaFolder>();
    QVERIFY(folders.insert(std::make_shared<MediaFolder>()));
    QVERIFY(folders.insert(folder));
    folder->setPath(QStringLiteral("/srv/music"));
    QVERIFY(folders.update(folder));
    QVERIFY(folders.remove(folder->id() - 1));
    QList<std::shared_ptr<MediaFolder>> folderList;
    folders.selectAll(folderList);
    QCOMPARE(folderList.size(), 1);
    QCOMPARE(folderList.first()->path(), QStringLiteral("/srv/music"));
}

void TestRecordStores::textIsBoundNeverSpliced()
{
    const QStringList texts = {"O'Brien \"quoted\"", "x'); drop table DesktopApp; --", ":name :id ? %1",
                               QStringLiteral("C:\\Program Files\\播放器\\player.exe")};
    DesktopAppDao apps;
    for (const QString& text : texts) {
        auto app = makeApp(text, 1);
        app->setWorkDir(text);
        app->setParam(text);
        QVERIFY(apps.insert(app));
    }
    QList<std::shared_ptr<DesktopApp>> list;
    apps.selectAll(list);
    QCOMPARE(names(list), texts);
    for (const auto& app : list)
        QVERIFY(app->workDir() == app->name() && app->param() == app->name());
}

void TestRecordStores::failedSelectKeepsTheListAndTheSnapshot()
{
    AppService* service = AppService::instance();
    service->load();
    QVERIFY(service->apps().isEmpty());
    QVERIFY(DesktopAppDao().insert(makeApp("Terminal", 9999)));
    QVERIFY(service->apps().isEmpty()); // a snapshot until the next load
    service->load();
    QCOMPARE(names(service->apps()), QStringList({"Terminal"}));

    SqlDatabase::destroyRegistry();
    LogCapture log;
    service->load();
    QCOMPARE(names(service->apps()), QStringList({"Terminal"}));
    auto app = makeApp("new", 1);
    QVERIFY(!service->insert(app));
    QCOMPARE(app->id(), 0);
    QCOMPARE(log.daoErrors().size(), 2);
}

void TestRecordStores::configValuesAndDuplicateNames()
{
    QVERIFY(execOn(SqlDatabase::Config, QStringLiteral("insert into dict (dictId,dictName,dictValue) values "
                                                       "(9,'audioPlayer','/new'),(4,'audioPlayer','/old'),"
                                                       "(5,'videoPlayer','')")));
    ConfigService* config = ConfigService::instance();
    config->load();
    QCOMPARE(config->value(QStringLiteral("audioPlayer"), QString()), QStringLiteral("/new"));
    QCOMPARE(config->value(QStringLiteral("videoPlayer"), QString()), QString());
    QCOMPARE(config->value(QStringLiteral("videoPlayer"), QStringLiteral("dflt")), QStringLiteral("dflt"));
    QCOMPARE(config->value(QStringLiteral("AudioPlayer"), QStringLiteral("dflt")), QStringLiteral("dflt"));

    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/chosen"), QString());
    QCOMPARE(dictRows(),
             QStringList({"4:audioPlayer()=/old/", "5:videoPlayer()=/", "9:audioPlayer()=/chosen/0"}));
}

void TestRecordStores::setValueInsertsOnceThenUpdatesThatRow()
{
    ConfigService* config = ConfigService::instance();
    config->load();
    config->setValue(QStringLiteral("videoPlayer"), QString(), QString());
    QCOMPARE(dictRows(), QStringList({"1:videoPlayer(videoPlayer)=/0"}));
    config->setValue(QStringLiteral("videoPlayer"), QStringLiteral("/usr/bin/vlc"), QString());
    QCOMPARE(dictRows(), QStringList({"1:videoPlayer(videoPlayer)=/usr/bin/vlc/0"}));
    // An empty value stores the default.
    config->setValue(QStringLiteral("videoPlayer"), QString(), QStringLiteral("/usr/bin/mpv"));
    config->load();
    QCOMPARE(config->value(QStringLiteral("videoPlayer"), QString()), QStringLiteral("/usr/bin/mpv"));
}

void TestRecordStores::setValueRetriesAnEntryWhoseInsertFailed()
{
    // The configuration database is briefly unavailable: the write fails, the cache keeps the value.
    SqlDatabase::destroyRegistry();
    SqlDatabase::createRegistry();
    ConfigService* config = ConfigService::instance();
    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/first"), QString());
    QCOMPARE(config->value(QStringLiteral("audioPlayer"), QString()), QStringLiteral("/first"));

    // Once it is back, the next write must reach it rather than update a row that never existed.
    auto cfg = std::make_shared<SqlDatabase>(nullptr);
    QVERIFY(cfg->open(m_context->livePath("cfg.db")));
    SqlDatabase::registerDatabase(SqlDatabase::Config, cfg);
    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/second"), QString());
    config->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/third"), QString());
    QCOMPARE(dictRows(), QStringList({"1:audioPlayer(audioPlayer)=/third/0"}));
}

QTEST_GUILESS_MAIN(TestRecordStores)
#include "tst_recordstores.moc"
