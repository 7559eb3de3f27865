#include "DataTestSupport.h"

#include "data/DesktopAppDao.h"
#include "data/DictDao.h"
#include "data/MediaFolderDao.h"

#include <QtTest>

namespace {

std::shared_ptr<DesktopApp> makeApp(const QString& name, int sortNum)
{
    auto app = std::make_shared<DesktopApp>();
    app->setName(name);
    app->setPath(QStringLiteral("/usr/bin/") + name);
    app->setWorkDir(QStringLiteral("/home/user"));
    app->setParam(QStringLiteral("--flag"));
    app->setSortNum(sortNum);
    return app;
}

std::shared_ptr<MediaFolder> makeFolder(const QString& name, int sortNum)
{
    auto folder = std::make_shared<MediaFolder>();
    folder->setName(name);
    folder->setPath(QStringLiteral("/media/") + name);
    folder->setSortNum(sortNum);
    return folder;
}

QStringList appNames(const QList<std::shared_ptr<DesktopApp>>& apps)
{
    QStringList names;
    for (const auto& app : apps)
        names << app->name();
    return names;
}

QStringList folderNames(const QList<std::shared_ptr<MediaFolder>>& folders)
{
    QStringList names;
    for (const auto& folder : folders)
        names << folder->name();
    return names;
}

} // namespace

class TestRecordStores : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void failedStatementIsReportedOnceWithItsText();
    void listsAreOrderedBySortNumThenId();
    void insertSetsTheKeyForLaterUpdateAndRemove();
    void hostileTextIsStoredUnchanged();
    void selectAllClearsOnSuccessAndKeepsOnFailure();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestRecordStores::init()
{
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());
}

void TestRecordStores::cleanup()
{
    releaseDatabases();
    m_context.reset();
}

void TestRecordStores::failedStatementIsReportedOnceWithItsText()
{
    LogCapture log;
    Dao dao;
    // A '%2' in the statement must not be taken for the error's placeholder.
    const QString sql = QStringLiteral("select '%2' from NoSuchTable");
    QVERIFY(!dao.prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)), sql).exec());
    QCOMPARE(log.daoErrors().size(), 1);
    const QString message = log.daoErrors().first();
    const QString head = QStringLiteral("**Debug** Dao Error: sql: ") + sql + QStringLiteral("\r\nerror: ");
    QVERIFY2(message.startsWith(head), qPrintable(message));
    QVERIFY2(message.mid(head.size()).contains(QStringLiteral("no such table")), qPrintable(message));

    // On a connection that was never registered the driver's own complaint is reported.
    log.clear();
    QVERIFY(!dao.prepare(QSqlQuery(SqlDatabase::database(7)), QStringLiteral("select 1")).exec());
    QCOMPARE(log.daoErrors().size(), 1);
    QVERIFY(
        log.daoErrors().first().startsWith(QStringLiteral("**Debug** Dao Error: sql: select 1\r\nerror: ")));

    log.clear();
    QVERIFY(
        dao.prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)), QStringLiteral("select 1")).exec());
    QVERIFY(log.daoErrors().isEmpty());
}

void TestRecordStores::listsAreOrderedBySortNumThenId()
{
    DesktopAppDao apps;
    QVERIFY(apps.insert(makeApp(QStringLiteral("late"), 9999)));
    QVERIFY(apps.insert(makeApp(QStringLiteral("second"), 5)));
    QVERIFY(apps.insert(makeApp(QStringLiteral("first"), 1)));
    QVERIFY(apps.insert(makeApp(QStringLiteral("third"), 5)));
    QVERIFY(apps.insert(makeApp(QStringLiteral("later"), 9999)));
    QVERIFY(execOn(SqlDatabase::Data,
                   QStringLiteral("insert into DesktopApp (name,path) values ('unsorted','/x')")));
    QList<std::shared_ptr<DesktopApp>> appList;
    apps.selectAll(appList);
    QCOMPARE(appNames(appList), QStringList({"unsorted", "first", "second", "third", "late", "later"}));
    // NULL columns read as 0 and as empty text.
    QCOMPARE(appList.first()->sortNum(), 0);
    QCOMPARE(appList.first()->workDir(), QString());

    MediaFolderDao folders;
    QVERIFY(folders.insert(makeFolder(QStringLiteral("b"), 2)));
    QVERIFY(folders.insert(makeFolder(QStringLiteral("a"), 2)));
    QVERIFY(folders.insert(makeFolder(QStringLiteral("z"), 1)));
    QVERIFY(execOn(SqlDatabase::Data, QStringLiteral("insert into MediaFolder (name) values ('null')")));
    QList<std::shared_ptr<MediaFolder>> folderList;
    folders.selectAll(folderList);
    QCOMPARE(folderNames(folderList), QStringList({"null", "z", "b", "a"}));
}

void TestRecordStores::insertSetsTheKeyForLaterUpdateAndRemove()
{
    DesktopAppDao apps;
    QVERIFY(apps.insert(makeApp(QStringLiteral("keep"), 1)));
    auto app = makeApp(QStringLiteral("edit"), 2);
    QVERIFY(apps.insert(app));
    QVERIFY(app->id() > 0);
    app->setName(QStringLiteral("edited"));
    app->setParam(QString());
    QVERIFY(apps.update(app));
    QList<std::shared_ptr<DesktopApp>> appList;
    apps.selectAll(appList);
    QCOMPARE(appNames(appList), QStringList({"keep", "edited"}));
    QCOMPARE(appList.at(1)->id(), app->id());
    QCOMPARE(appList.at(1)->param(), QString());
    QCOMPARE(appList.at(1)->path(), QStringLiteral("/usr/bin/edit"));
    QVERIFY(apps.remove(app->id()));
    // Keys that match no row are not errors.
    QVERIFY(apps.remove(app->id()));
    QVERIFY(apps.update(app));
    apps.selectAll(appList);
    QCOMPARE(appNames(appList), QStringList({"keep"}));

    MediaFolderDao folders;
    auto folder = makeFolder(QStringLiteral("music"), 3);
    QVERIFY(folders.insert(makeFolder(QStringLiteral("films"), 3)));
    QVERIFY(folders.insert(folder));
    folder->setPath(QStringLiteral("/srv/music"));
    QVERIFY(folders.update(folder));
    QList<std::shared_ptr<MediaFolder>> folderList;
    folders.selectAll(folderList);
    QCOMPARE(folderList.at(1)->path(), QStringLiteral("/srv/music"));
    QCOMPARE(folderList.at(0)->path(), QStringLiteral("/media/films"));
    QVERIFY(folders.remove(folder->id()));
    folders.selectAll(folderList);
    QCOMPARE(folderNames(folderList), QStringList({"films"}));

    DictDao dicts;
    auto dict = std::make_shared<Dict>();
    dict->setDictName(QStringLiteral("audioPlayer"));
    dict->setDictValue(QStringLiteral("/a"));
    QVERIFY(dicts.insert(dict));
    const int firstId = dict->dictId();
    QVERIFY(firstId > 0);
    dict->setDictValue(QStringLiteral("/b"));
    QVERIFY(dicts.update(dict));
    QList<std::shared_ptr<Dict>> dictList;
    dicts.selectAll(dictList);
    QCOMPARE(dictList.size(), 1);
    QCOMPARE(dictList.first()->dictId(), firstId);
    QCOMPARE(dictList.first()->dictValue(), QStringLiteral("/b"));
}

void TestRecordStores::hostileTextIsStoredUnchanged()
{
    const QStringList texts = {
        QStringLiteral("O'Brien \"quoted\""),
        QStringLiteral("x'); drop table DesktopApp; --"),
        QStringLiteral(":name :id ? %1"),
        QStringLiteral("C:\\Program Files\\播放器\\player.exe"),
    };
    DesktopAppDao apps;
    for (const QString& text : texts) {
        auto app = makeApp(text, 1);
        app->setPath(text);
        app->setWorkDir(text);
        app->setParam(text);
        QVERIFY(apps.insert(app));
    }
    QList<std::shared_ptr<DesktopApp>> appList;
    apps.selectAll(appList);
    QCOMPARE(appNames(appList), texts);
    for (const auto& app : appList) {
        QCOMPARE(app->path(), app->name());
        QCOMPARE(app->workDir(), app->name());
        QCOMPARE(app->param(), app->name());
    }

    DictDao dicts;
    auto dict = std::make_shared<Dict>();
    dict->setDictName(texts.at(1));
    dict->setDictValue(texts.at(0));
    QVERIFY(dicts.insert(dict));
    QList<std::shared_ptr<Dict>> dictList;
    dicts.selectAll(dictList);
    QCOMPARE(dictList.first()->dictName(), texts.at(1));
    QCOMPARE(dictList.first()->dictValue(), texts.at(0));
}

void TestRecordStores::selectAllClearsOnSuccessAndKeepsOnFailure()
{
    const auto stale = makeApp(QStringLiteral("stale"), 1);
    QList<std::shared_ptr<DesktopApp>> appList{stale};
    DesktopAppDao apps;
    apps.selectAll(appList);
    QVERIFY(appList.isEmpty());

    QList<std::shared_ptr<MediaFolder>> folderList{makeFolder(QStringLiteral("kept"), 1)};
    QList<std::shared_ptr<Dict>> dictList{std::make_shared<Dict>()};
    appList = {stale};
    SqlDatabase::destroyRegistry();
    LogCapture log;
    apps.selectAll(appList);
    MediaFolderDao().selectAll(folderList);
    DictDao().selectAll(dictList);
    QCOMPARE(appList.size(), 1);
    QCOMPARE(folderList.size(), 1);
    QCOMPARE(dictList.size(), 1);
    QCOMPARE(log.daoErrors().size(), 3);

    // Writes on a missing database report failure and leave the record's key alone.
    auto app = makeApp(QStringLiteral("new"), 1);
    QVERIFY(!apps.insert(app));
    QCOMPARE(app->id(), 0);
    QVERIFY(!apps.update(stale));
    QVERIFY(!apps.remove(1));
    QCOMPARE(log.daoErrors().size(), 6);
}

QTEST_GUILESS_MAIN(TestRecordStores)
#include "tst_recordstores.moc"
