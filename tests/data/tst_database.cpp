#include "DataTestSupport.h"

#include <QtTest>

namespace {

QStringList names(const QList<std::shared_ptr<DesktopApp>>& apps)
{
    QStringList result;
    for (const auto& app : apps)
        result << app->name();
    return result;
}

// dictId:dictName(dictDesc)=dictValue/sortNum of every row, by dictId.
QStringList dictRows()
{
    QStringList rows;
    QSqlQuery query("select printf('%s:%s(%s)=%s/%s',dictId,dictName,dictDesc,dictValue,sortNum) from dict "
                    "order by dictId",
                    SqlDatabase::database(SqlDatabase::Config));
    while (query.next())
        rows << query.value(0).toString();
    return rows;
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestContext> m_context;

private slots:
    void init() { m_context = std::make_unique<TestContext>(); }
    void cleanup()
    {
        releaseDatabases();
        m_context.reset();
    }

    void firstStartInstallsAndLaterStartsCopyNothing()
    {
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Database path: " + m_context->liveFolder()));
        QVERIFY(startDatabases());
        QCOMPARE(m_context->liveFiles(), QStringList({"cfg.db", "data.db", "log.db"}));
        ConfigService::instance()->load();
        ConfigService::instance()->setValue("videoPlayer", "/opt/vlc", QString());
        releaseDatabases();

        // Changed templates (each now a different database) are not copied over the live files.
        for (const QString name : {"cfg.db", "log.db", "data.db"}) {
            QFile::remove(m_context->templatePath(name));
            QFile::copy(m_context->livePath(name == "data.db" ? "cfg.db" : "data.db"),
                        m_context->templatePath(name));
        }
        QVERIFY(startDatabases());
        ConfigService::instance()->load();
        QCOMPARE(ConfigService::instance()->value("videoPlayer", QString()), QStringLiteral("/opt/vlc"));
        QVERIFY(SqlDatabase::database(SqlDatabase::Data).tables().contains("MediaFolder"));
    }

    void failedInstallStopsInOrder_data()
    {
        QTest::addColumn<QString>("broken");
        QTest::addColumn<QStringList>("installed");
        // A template that fails to read once opened: the copy fails and leaves no partial live file.
        QTest::newRow("log.db missing") << "log.db" << QStringList({"cfg.db"});
        QTest::newRow("data.db unreadable") << "data.db" << QStringList({"cfg.db", "log.db"});
    }
    void failedInstallStopsInOrder()
    {
        QFETCH(QString, broken);
        QFETCH(QStringList, installed);
        QVERIFY(QFile::remove(m_context->templatePath(broken)));
        if (broken == "data.db")
            QVERIFY(QFile::link("/proc/self/mem", m_context->templatePath(broken)));
        LogCapture log;
        QVERIFY(!startDatabases());
        QCOMPARE(m_context->liveFiles(), installed);
        QCOMPARE(log.messages(QtWarningMsg).filter(broken).size(), 1);
    }

    void zeroByteLiveFileIsKeptAndReported()
    {
        const QString dataPath = m_context->livePath("data.db");
        QVERIFY(QDir().mkpath(m_context->liveFolder()) && QFile(dataPath).open(QIODevice::WriteOnly));
        {
            // Start-up goes on with empty lists; one warning names the file, and each statement on
            // the missing database is reported once.
            LogCapture log;
            QVERIFY(startDatabases());
            AppService::instance()->load();
            MediaService::instance()->load();
            QVERIFY(AppService::instance()->apps().isEmpty() &&
                    MediaService::instance()->folders().isEmpty());
            QVERIFY(!AppService::instance()->insert(std::make_shared<DesktopApp>()));
            QCOMPARE(log.messages(QtWarningMsg).filter(dataPath).size(), 1);
            QCOMPARE(log.daoErrors().size(), 3);
        }
        // The user's file is neither replaced by the template nor written, now or on a later start.
        releaseDatabases();
        QVERIFY(startDatabases());
        QCOMPARE(QFileInfo(dataPath).size(), 0);
    }

    void registryAndErrorReport()
    {
        QVERIFY(startDatabases());
        QVERIFY(!SqlDatabase::database(3).isValid());

        // One report per failed statement, with the statement as written and the driver's reason,
        // also when it failed already to prepare. A '%2' in it stays as it is.
        LogCapture log;
        Dao dao;
        const QString sql = "select '%2' from NoSuchTable";
        QVERIFY(!dao.prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)), sql).exec());
        QVERIFY(!dao.prepare(QSqlQuery(SqlDatabase::database(3)), "select 1").exec());
        QVERIFY(dao.prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)), "select 1").exec());
        const QStringList errors = log.daoErrors();
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors.at(0).startsWith("**Debug** Dao Error: sql: " + sql + "\r\nerror: ") &&
                     errors.at(0).contains("no such table"),
                 qPrintable(errors.at(0)));
        QVERIFY(errors.at(1).startsWith("**Debug** Dao Error: sql: select 1\r\nerror: "));
    }

    void appRowsKeepOrderKeysAndText()
    {
        QVERIFY(startDatabases());
        const QStringList texts{"late", "O'Brien \"quoted\"", "first", "x'); drop table DesktopApp; --",
                                ":name :id ? %1"};
        const int sortNums[] = {9999, 5, 1, 5, 5};
        DesktopAppDao dao;
        QList<std::shared_ptr<DesktopApp>> inserted;
        for (int i = 0; i < texts.size(); ++i) {
            // Every text column holds the text, marked, so that each is seen to come back as it went in.
            auto app = std::make_shared<DesktopApp>();
            app->setName(texts[i]);
            app->setPath(texts[i] + "|p");
            app->setWorkDir(texts[i] + "|w");
            app->setParam(texts[i] + "|a");
            app->setSortNum(sortNums[i]);
            inserted << app;
            QVERIFY(dao.insert(app));
        }
        QVERIFY(execOn(SqlDatabase::Data, "insert into DesktopApp (name) values ('unsorted')"));
        QList<std::shared_ptr<DesktopApp>> list;
        dao.selectAll(list);
        // By sortNum, then id; a NULL sortNum first.
        QCOMPARE(names(list), QStringList({"unsorted", "first", texts[1], texts[3], texts[4], "late"}));
        for (const auto& app : list.mid(1))
            QVERIFY(app->path() == app->name() + "|p" && app->workDir() == app->name() + "|w" &&
                    app->param() == app->name() + "|a");

        // The key that insert sets aims update and remove at that row.
        inserted[3]->setName("edited");
        QVERIFY(dao.update(inserted[3]));
        QVERIFY(dao.remove(inserted[1]->id()));
        dao.selectAll(list);
        QCOMPARE(names(list), QStringList({"unsorted", "first", "edited", texts[4], "late"}));
    }

    void configValues()
    {
        // Two rows share a name: the higher dictId wins, and only its row is written.
        QVERIFY(startDatabases());
        QVERIFY(execOn(SqlDatabase::Config,
                       "insert into dict (dictId,dictName,dictValue) values "
                       "(9,'audioPlayer','/new'),(4,'audioPlayer','/old'),(5,'videoPlayer','')"));
        ConfigService* config = ConfigService::instance();
        config->load();
        QCOMPARE(config->value("audioPlayer", QString()), QStringLiteral("/new"));
        QCOMPARE(config->value("videoPlayer", "dflt"), QStringLiteral("dflt"));
        config->setValue("audioPlayer", "/chosen", QString());
        QStringList rows{"4:audioPlayer()=/old/", "5:videoPlayer()=/", "9:audioPlayer()=/chosen/0"};
        QCOMPARE(dictRows(), rows);

        // A missing key, even with an empty value, gets one row; the next write updates that row.
        config->setValue("picture", QString(), QString());
        config->setValue("picture", "/usr/bin/eog", QString());
        QCOMPARE(dictRows(), rows << "10:picture(picture)=/usr/bin/eog/0");

        // With the database briefly away the insert fails and the cache keeps the value; once it is
        // back, the next write inserts the row rather than update one that never existed.
        SqlDatabase::destroyRegistry();
        SqlDatabase::createRegistry();
        config->setValue("pause", "/first", QString());
        QCOMPARE(config->value("pause", QString()), QStringLiteral("/first"));
        auto cfg = std::make_shared<SqlDatabase>(nullptr);
        QVERIFY(cfg->open(m_context->livePath("cfg.db")));
        SqlDatabase::registerDatabase(SqlDatabase::Config, cfg);
        config->setValue("pause", "/second", QString());
        config->setValue("pause", "/third", QString());
        QCOMPARE(dictRows(), rows << "11:pause(pause)=/third/0");
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
