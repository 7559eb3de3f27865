// The media browser, the media and launcher commands, and the desktop shell they use: a command
// server with fake shell and input backend that a loopback phone talks to.

#include "data/DataTestSupport.h"
#include "data/FileExplorer.h"
#include "platform/input/InputBackendFake.h"
#include "platform/shell/ShellFake.h"
#include "remote/Server.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <ctime>

namespace {

void writeFile(const QString& path, const QByteArray& bytes = "data")
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), qPrintable(path));
}

// An executable script writing its working directory and arguments, one a line, to `marker`;
// the rename makes the marker appear whole.
void writeRecorder(const QString& path, const QString& marker)
{
    const QByteArray m = marker.toUtf8();
    writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > '" + m + ".tmp' && mv '" + m + ".tmp' '" +
                        m + "'\n");
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner));
}

// One line as the phone sends it; the media commands read only "path".
QByteArray command(const QString& name, const QString& path, const QString& workdir = {},
                   const QString& args = {})
{
    const QJsonObject params{{"path", path}, {"workdir", workdir}, {"args", args}};
    return QJsonDocument(QJsonObject{{"command", name}, {"params", params}}).toJson(QJsonDocument::Compact);
}

// The fake shell's requests in a form that compares at a glance.
QStringList requests(const ShellFake* shell)
{
    QStringList out;
    for (const auto& call : shell->calls())
        out << QStringLiteral("%1 %2 [%3] %4")
                   .arg(QStringList{"open", "start"}.at(call.kind), call.path, call.arguments.join('|'),
                        call.workDir);
    return out;
}

std::shared_ptr<DesktopApp> app(const QString& path, const QString& workDir, const QString& param)
{
    auto r = std::make_shared<DesktopApp>();
    r->setName(QFileInfo(path).fileName());
    r->setPath(path);
    r->setWorkDir(workDir);
    r->setParam(param);
    return r;
}

struct CommandRig
{
    InputBackendFake* input = new InputBackendFake;
    ShellFake* shell = new ShellFake;
    Server server{std::unique_ptr<InputBackend>(input), nullptr};
    QTcpSocket phone;

    CommandRig() { server.setShell(std::unique_ptr<Shell>(shell)); }
    bool connectPhone()
    {
        QSignalSpy connected(&server, &Server::clientConnected);
        phone.connectToHost(QHostAddress::LocalHost, server.start(0) ? server.serverPort() : 0);
        return connected.wait(5000);
    }
    // Sends one line; returns the first line received back (with its line feed).
    QByteArray ask(const QByteArray& line)
    {
        phone.write(line + '\n');
        return QTest::qWaitFor([this] { return phone.canReadLine(); }, 5000) ? phone.readLine()
                                                                             : QByteArray();
    }
    // A command that gets no answer, run without the network.
    void run(const QByteArray& line) { server.handleMessage(line); }
};

} // namespace

class TestMedia : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestContext> m_context;
    QTemporaryDir m_dir;
    QString m_root, m_media;
    std::unique_ptr<CommandRig> m_rig;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_context = std::make_unique<TestContext>();
        QVERIFY(startDatabases());
        // Media is registered; Media2 only shares its name as a prefix; two links in Media lead out.
        m_root = QFileInfo(m_dir.path()).canonicalFilePath();
        m_media = m_root + "/Media";
        for (const char* sub : {"Media/Sub", "Media2", "Outside", "Players"})
            QVERIFY(QDir(m_root).mkpath(sub));
        for (const char* file : {"Media/A.txt", "Media/track", "Media/Song.MP3", "Media/My \"best\" clip.TS",
                                 "Media2/x.mp3", "Outside/secret.mp3"})
            writeFile(m_root + "/" + file);
        QVERIFY(QFile::link(m_root + "/Outside", m_media + "/escape"));
        QVERIFY(QFile::link(m_root + "/Outside/secret.mp3", m_media + "/leak.mp3"));
        // Links that stay inside, and links that lead nowhere.
        QVERIFY(QFile::link(m_media + "/Sub", m_media + "/inner"));
        QVERIFY(QFile::link(m_media + "/Song.MP3", m_media + "/inner.mp3"));
        QVERIFY(QFile::link(m_media + "/Sub/gone", m_media + "/gone"));
        QVERIFY(QFile::link(m_media + "/gone.wav", m_media + "/dangling.mp3"));
        QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values "
                                          "('Films','/no/films',1),('Music','" +
                                              m_media + "',2)"));
        MediaService::instance()->load();
    }
    void cleanupTestCase() { releaseDatabases(); }
    void init() { m_rig = std::make_unique<CommandRig>(); }

    void directoryListing()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        for (const char* name : {"A.txt", "c.flac", ".h.mp3", "B.mp3"})
            writeFile(root + "/" + name);
        writeFile(root + "/b.MKV", "12345");
        QVERIFY(QDir(root).mkdir("Sub"));
        QFile mkv(root + "/b.MKV");
        QVERIFY(mkv.open(QIODevice::ReadWrite));
        QVERIFY(mkv.setFileTime(QDateTime({2024, 2, 3}, {9, 5, 7}), QFileDevice::FileModificationTime));
        mkv.close();
        QVERIFY(QFile::link(root + "/gone", root + "/e.mp3")); // a dangling link is left out

        // Ordered by code unit, so "B" before "b".
        const QByteArray lm =
            QFileInfo(root + "/c.flac").lastModified().toString("yyyy-MM-dd hh:mm:ss").toUtf8();
        const QByteArray expected =
            "{\"dirs\":[\"Sub\"],\"files\":[{\"ext\":\"mp3\",\"lm\":\"" + lm +
            "\",\"name\":\"B.mp3\",\"size\":4},"
            "{\"ext\":\"MKV\",\"lm\":\"2024-02-03 09:05:07\",\"name\":\"b.MKV\",\"size\":5},"
            "{\"ext\":\"flac\",\"lm\":\"" +
            lm + "\",\"name\":\"c.flac\",\"size\":4}],\"filter\":\"" + MediaExtensions::kAll +
            "\",\"path\":\"" + root.toUtf8() + "\",\"statistics\":{\"directoryCount\":1,\"fileCount\":3}}";
        QCOMPARE(QJsonDocument(::directoryListing(root)).toJson(QJsonDocument::Compact), expected);

        // Missing (or not a folder): only path and filter. Empty: empty arrays and zero counts.
        for (const QString& path : QStringList{root + "/nowhere", root + "/c.flac"})
            QCOMPARE(::directoryListing(path),
                     QJsonObject({{"path", path}, {"filter", MediaExtensions::kAll}}));
        const QJsonObject empty{{"dirs", QJsonArray()},
                                {"files", QJsonArray()},
                                {"filter", MediaExtensions::kAll},
                                {"path", QString(root + "/Sub")},
                                {"statistics", QJsonObject{{"directoryCount", 0}, {"fileCount", 0}}}};
        QCOMPARE(::directoryListing(root + "/Sub"), empty);
    }

    // Each file's time as the phone always got it (its local modification time), also where
    // the zone's offset changes, by an hour or by half of one, and before 1970.
    void listedTimesFollowTheLocalZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QVector<qint64>>("times"); // seconds since the epoch
        // Berlin: summer time from 2024-03-31 01:00 UTC, back at 2024-10-27 01:00 UTC.
        QTest::newRow("Europe/Berlin")
            << QByteArray("Europe/Berlin")
            << QVector<qint64>{1711846799, 1711846800, 1711847699, 1711846000, 1729990800, 1729990799,
                               1729989000, 1729992600, -1,         -3601,      0,          1700000000};
        // Lord Howe: half an hour back at 2024-04-06 15:00 UTC.
        QTest::newRow("Australia/Lord_Howe")
            << QByteArray("Australia/Lord_Howe")
            << QVector<qint64>{1712415599, 1712415600, 1712414700, 1712416499};
    }

    void listedTimesFollowTheLocalZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QVector<qint64>, times);
        const QByteArray previous = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
        QTemporaryDir dir;
        for (int i = 0; i < times.size(); ++i) {
            const QString name = dir.path() + QStringLiteral("/%1.mp3").arg(i, 2, 10, QLatin1Char('0'));
            writeFile(name, QByteArray(i, 'x'));
            QFile file(name);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(times.at(i), Qt::UTC),
                                     QFileDevice::FileModificationTime));
        }
        const QJsonArray files = ::directoryListing(dir.path()).value("files").toArray();
        QCOMPARE(files.size(), times.size());
        for (int i = 0; i < files.size(); ++i) {
            const QFileInfo info(dir.path() + "/" + files.at(i)["name"].toString());
            QCOMPARE(files.at(i)["lm"].toString(), info.lastModified().toString("yyyy-MM-dd hh:mm:ss"));
            QCOMPARE(qint64(files.at(i)["size"].toDouble()), info.size());
        }
        if (previous.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", previous);
        tzset();
    }

    void mediaExplore()
    {
        QVERIFY(m_rig->connectPhone());
        // The root: the cached folders as they are (the first need not exist), with or without "/".
        const QByteArray root =
            "{\"command\":\"mediaexplore\",\"params\":{\"packet\":{\"dirs\":[{\"name\":\"Films\","
            "\"path\":\"/no/films\"},{\"name\":\"Music\",\"path\":\"" +
            m_media.toUtf8() +
            "\"}],\"files\":[],\"filter\":\"none\",\"path\":\"/\",\"statistics\":"
            "{\"directoryCount\":2,\"fileCount\":0}},\"root\":true}}\n";
        QCOMPARE(m_rig->ask(command("mediaexplore", "/")), root);
        QCOMPARE(m_rig->ask(R"({"command":"mediaexplore"})"), root);

        // Inside (also through a ".." that stays inside): the listing, with the phone's own path.
        const MediaFolderScope scope({"/no/films", m_media});
        for (const QString& path : QStringList{m_media, m_media + "/Sub/.."}) {
            QJsonObject packet = ::directoryListing(m_media, &scope);
            packet.insert("path", path);
            QCOMPARE(m_rig->ask(command("mediaexplore", path)),
                     "{\"command\":\"mediaexplore\",\"params\":" +
                         QJsonDocument(QJsonObject{{"packet", packet}}).toJson(QJsonDocument::Compact) +
                         "}\n");
        }
        // Elsewhere, through "..", a link or a shared prefix: answered as a path that does not exist.
        for (const QString& path :
             QStringList{m_media + "/..", m_media + "/escape/", m_root + "/Media2", "/etc"})
            QCOMPARE(m_rig->ask(command("mediaexplore", path)),
                     "{\"command\":\"mediaexplore\",\"params\":{\"packet\":{\"filter\":\"" +
                         QByteArray(MediaExtensions::kAll) + "\",\"path\":\"" + path.toUtf8() + "\"}}}\n");
    }

    // What the listing shows and what may be browsed or opened agree: a link counts where its
    // target lies, and one leading out of the media folders, or nowhere, is not shown.
    void linksAgreeWithContainment_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("usable"); // listed, and browsed or opened
        QTest::newRow("plain folder") << "Sub" << true << true;
        QTest::newRow("plain file") << "Song.MP3" << false << true;
        QTest::newRow("link to a folder inside") << "inner" << true << true;
        QTest::newRow("link to a file inside") << "inner.mp3" << false << true;
        QTest::newRow("link to a folder outside") << "escape" << true << false;
        QTest::newRow("link to a file outside") << "leak.mp3" << false << false;
        QTest::newRow("dangling link, folder name") << "gone" << true << false;
        QTest::newRow("dangling link, media name") << "dangling.mp3" << false << false;
    }
    void linksAgreeWithContainment()
    {
        QFETCH(QString, name);
        QFETCH(bool, folder);
        QFETCH(bool, usable);
        QVERIFY(m_rig->connectPhone());
        const auto packetOf = [this](const QString& path) {
            const QJsonObject reply =
                QJsonDocument::fromJson(m_rig->ask(command("mediaexplore", path))).object();
            return reply.value("params").toObject().value("packet").toObject();
        };
        const QJsonObject listing = packetOf(m_media);
        QStringList listed;
        for (const QJsonValue& entry : listing.value("files").toArray())
            listed << entry.toObject().value("name").toString();
        listed += listing.value("dirs").toVariant().toStringList();
        QCOMPARE(listed.contains(name), usable);

        const QString path = m_media + "/" + name;
        if (folder) {
            QCOMPARE(packetOf(path).contains("dirs"), usable);
        } else {
            if (!usable)
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression("^mediaopen: not a file in the media folders"));
            ConfigService::instance()->setValue("audioPlayer", QString(), QString());
            m_rig->run(command("mediaopen", path));
            QCOMPARE(m_rig->shell->calls().size(), usable ? 1 : 0);
        }
    }

    void mediaOpen()
    {
        // Audio goes to the desktop's program (no player chosen), video to the chosen player, started
        // from its own folder with the file as one argument whatever its name holds; a file without
        // suffix counts as audio, .txt as nothing.
        ConfigService::instance()->setValue("audioPlayer", QString(), QString());
        ConfigService::instance()->setValue("videoPlayer", m_root + "/Players/video", QString());
        for (const QString& name : QStringList{"Song.MP3", "My \"best\" clip.TS", "track", "A.txt"})
            m_rig->run(command("mediaopen", m_media + "/" + name));
        QCOMPARE(requests(m_rig->shell), QStringList({"open " + m_media + "/Song.MP3 [] ",
                                                      "start " + m_root + "/Players/video [" + m_media +
                                                          "/My \"best\" clip.TS] " + m_root + "/Players",
                                                      "open " + m_media + "/track [] "}));

        // Only files inside the media folders are opened.
        m_rig->shell->clear();
        for (const QString& path : QStringList{m_media + "/leak.mp3", m_media + "/../Outside/secret.mp3",
                                               m_root + "/Media2/x.mp3", m_media + "/Sub"}) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^mediaopen: not a file in the media folders"));
            m_rig->run(command("mediaopen", path));
        }
        QVERIFY(m_rig->shell->calls().isEmpty());
    }

    void appExplore()
    {
        auto zed = app("/opt/zed", "/opt", "--x \"a b\"");
        zed->setSortNum(2);
        QVERIFY(AppService::instance()->insert(zed));
        QVERIFY(AppService::instance()->insert(app("/usr/bin/ed", "/home", QString())));
        AppService::instance()->load();
        QVERIFY(m_rig->connectPhone());
        QCOMPARE(m_rig->ask(R"({"command":"appexplore","params":{"any":1}})"),
                 QByteArray("{\"command\":\"appexplore\",\"params\":{\"apps\":["
                            "{\"args\":\"\",\"name\":\"ed\",\"path\":\"/usr/bin/ed\",\"workdir\":\"/home\"},"
                            "{\"args\":\"--x \\\"a "
                            "b\\\"\",\"name\":\"zed\",\"path\":\"/opt/zed\",\"workdir\":\"/opt\"}]}}\n"));
    }

    void appOpenStartsOnlyRegisteredEntries()
    {
        AppService::instance()->apps() = {app("/opt/tool/run", "/opt/tool", "--mode \"two words\"")};
        m_rig->run(command("appopen", "/opt/tool/run", "/opt/tool", "--mode \"two words\""));
        QCOMPARE(requests(m_rig->shell), QStringList({"start /opt/tool/run [--mode|two words] /opt/tool"}));

        m_rig->shell->clear();
        for (const QByteArray& line :
             {command("appopen", "/bin/sh", "/tmp", "-c \"touch /tmp/x\""),
              command("appopen", "/opt/tool/run", "/opt/tool", "--mode \"two words\" --evil"),
              command("appopen", "/opt/tool/run", "/", "--mode \"two words\"")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^appopen: not a registered application"));
            m_rig->run(line);
        }
        QVERIFY(m_rig->shell->calls().isEmpty());
    }

    void appOpenReallyStartsTheProgram()
    {
        // No command interpreter sees the arguments: nothing is expanded, split further or run.
        const QString work = m_root + "/work dir";
        const QString args = "--title \"Two Words\" $HOME \"; touch " + m_root + "/pwned\"";
        QVERIFY(QDir(m_root).mkpath("work dir"));
        writeRecorder(m_root + "/launch me", m_root + "/marker");
        AppService::instance()->apps() = {app(m_root + "/launch me", work, args)};
        m_rig->server.setShell(createShell());
        const QString ours = QDir::currentPath();
        m_rig->run(command("appopen", m_root + "/launch me", work, args));
        QTRY_COMPARE(QString(fileBytes(m_root + "/marker")),
                     work + "\n--title\nTwo Words\n$HOME\n; touch " + m_root + "/pwned\n");
        QVERIFY(!QFile::exists(m_root + "/pwned"));

        // A player starts in its own folder with the file as its argument.
        writeRecorder(m_root + "/Players/video", m_root + "/played");
        ConfigService::instance()->setValue("videoPlayer", m_root + "/Players/video", QString());
        m_rig->run(command("mediaopen", m_media + "/My \"best\" clip.TS"));
        QTRY_COMPARE(QString(fileBytes(m_root + "/played")),
                     m_root + "/Players\n" + m_media + "/My \"best\" clip.TS\n");
        // Neither moved our own current directory, which the web server once served from.
        QCOMPARE(QDir::currentPath(), ours);
    }

    void closeWindowSendsAltF4()
    {
        QSignalSpy messages(&m_rig->server, &Server::logMessage);
        m_rig->run(R"({"command":"closewindow"})");
        using R = InputRecord;
        QCOMPARE(m_rig->input->records(), QVector<R>({R::key(18, 0, 0), R::key(115, 0, 0),
                                                      R::key(115, 0, R::KeyUp), R::key(18, 0, R::KeyUp)}));
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.at(0).at(0).toString(), QString("收到关闭窗口命令"));
    }

    void linuxShell()
    {
        // Stand-ins write down what they were given; the stand-in opener comes first on the path.
        const QByteArray path = qgetenv("PATH");
        QVERIFY(QDir(m_root).mkpath("bin"));
        writeRecorder(m_root + "/bin/xdg-open", m_root + "/opened");
        qputenv("PATH", m_root.toUtf8() + "/bin:" + path);
        const auto shell = createShell();

        // A missing working directory fails rather than running the program elsewhere.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("working directory not found"));
        QVERIFY(!shell->startProgram(m_root + "/bin/xdg-open", {}, m_root + "/gone"));
        // Desktop entries naming each other give up instead of looping.
        const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=" + m_root.toUtf8();
        writeFile(m_root + "/a.desktop", entry + "/b.desktop\n");
        writeFile(m_root + "/b.desktop", entry + "/a.desktop\n");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nested too deeply"));
        QVERIFY(!shell->startProgram(m_root + "/a.desktop", {}, QString()));

        // A relative document name reaches the opener absolute, so it cannot pass for an option.
        const QString ours = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_media));
        QVERIFY(shell->startProgram("./A.txt", {"--ignored"}, QString()));
        QTRY_COMPARE(QString(fileBytes(m_root + "/opened")), m_media + "\n" + m_media + "/A.txt\n");
        QVERIFY(QDir::setCurrent(ours));
        qputenv("PATH", path);
    }
};

QTEST_GUILESS_MAIN(TestMedia)
#include "tst_media.moc"
