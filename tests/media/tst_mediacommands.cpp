#include "MediaTestSupport.h"

#include "data/FileExplorer.h"

namespace {

// The fake shell's requests in a form that compares at a glance.
QStringList requests(const ShellFake& shell)
{
    QStringList out;
    for (const auto& call : shell.calls()) {
        if (call.kind == ShellFake::Call::OpenDocument)
            out << "open " + call.path;
        else if (call.kind == ShellFake::Call::SetCurrentDirectory)
            out << "cd " + call.path;
        else
            out << "start " + call.path + " [" + call.arguments.join('|') + "] in " + call.workDir;
    }
    return out;
}

template <typename Record> std::shared_ptr<Record> record(const QString& name, const QString& path)
{
    auto r = std::make_shared<Record>();
    r->setName(name);
    r->setPath(path);
    return r;
}

std::shared_ptr<DesktopApp> app(const QString& name, const QString& path, const QString& workDir,
                                const QString& param, int sortNum = 0)
{
    auto r = record<DesktopApp>(name, path);
    r->setWorkDir(workDir);
    r->setParam(param);
    r->setSortNum(sortNum);
    return r;
}

QByteArray openApp(const QString& path, const QString& workdir, const QString& args)
{
    return commandLine("appopen", {{"path", path}, {"workdir", workdir}, {"args", args}});
}

QByteArray withPath(const QString& command, const QString& path)
{
    return commandLine(command, {{"path", path}});
}

} // namespace

class TestMediaCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void rootReplyListsTheMediaFolders();
    void folderReplyOnlyInsideMediaFolders();
    void openPicksThePlayerBySuffix();
    void openRefusesFilesOutsideMediaFolders();
    void appExploreListsTheCache();
    void appOpenStartsOnlyRegisteredEntries();
    void appOpenReallyStartsTheProgram();
    void closeWindowSendsAltF4();

private:
    std::unique_ptr<TestContext> m_context;
    QTemporaryDir m_dir;
    QString m_root;
    QString m_media;
    QString m_savedCurrent = QDir::currentPath();
    std::unique_ptr<CommandRig> m_rig;
};

void TestMediaCommands::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());
    // Media is registered; Media2 only shares its name as a prefix; two links in Media lead out.
    m_root = QFileInfo(m_dir.path()).canonicalFilePath();
    m_media = m_root + "/Media";
    for (const char* sub : {"Media/Sub", "Media2", "Outside", "Players"})
        QVERIFY(QDir(m_root).mkpath(sub));
    for (const char* file :
         {"Media/b.MKV", "Media/A.txt", "Media/c.flac", "Media/track", "Media/Song.MP3", "Media/clip.TS",
          "Media/My \"best\" song.mp3", "Media2/x.mp3", "Outside/secret.mp3"})
        writeFile(m_root + "/" + file);
    QVERIFY(QFile::link(m_root + "/Outside", m_media + "/escape"));
    QVERIFY(QFile::link(m_root + "/Outside/secret.mp3", m_media + "/leak.mp3"));
}

void TestMediaCommands::cleanupTestCase()
{
    MediaService::instance()->folders().clear();
    AppService::instance()->apps().clear();
    releaseDatabases();
    QDir::setCurrent(m_savedCurrent);
}

void TestMediaCommands::init()
{
    MediaService::instance()->folders() = {record<MediaFolder>("Media", m_media)};
    ConfigService::instance()->setValue("audioPlayer", QString(), QString());
    ConfigService::instance()->setValue("videoPlayer", QString(), QString());
    m_rig = std::make_unique<CommandRig>();
}

void TestMediaCommands::rootReplyListsTheMediaFolders()
{
    // Listed as cached: the first folder need not exist.
    MediaService::instance()->folders() = {record<MediaFolder>("Films", "/no/films"),
                                           record<MediaFolder>("Music", m_media)};
    QVERIFY(m_rig->connectPhone());
    const QByteArray expected =
        "{\"command\":\"mediaexplore\",\"params\":{\"packet\":{\"dirs\":[{\"name\":\"Films\","
        "\"path\":\"/no/films\"},{\"name\":\"Music\",\"path\":\"" +
        m_media.toUtf8() +
        "\"}],\"files\":[],\"filter\":\"none\",\"path\":\"/\",\"statistics\":"
        "{\"directoryCount\":2,\"fileCount\":0}},\"root\":true}}\n";
    QCOMPARE(m_rig->ask(R"({"command":"mediaexplore","params":{"path":"/"}})"), expected);
    QCOMPARE(m_rig->ask(R"({"command":"mediaexplore"})"), expected);
}

void TestMediaCommands::folderReplyOnlyInsideMediaFolders()
{
    QVERIFY(m_rig->connectPhone());
    // Inside (also through a ".." that stays inside): the listing, with the phone's own path.
    for (const QString& path : QStringList{m_media, m_media + "/Sub", m_media + "/Sub/..", m_media + "/"}) {
        QJsonObject packet = directoryListing(QFileInfo(path).canonicalFilePath());
        packet.insert("path", path);
        QCOMPARE(m_rig->ask(withPath("mediaexplore", path)),
                 "{\"command\":\"mediaexplore\",\"params\":" +
                     QJsonDocument(QJsonObject{{"packet", packet}}).toJson(QJsonDocument::Compact) + "}\n");
    }
    // Anywhere else: answered as a path that does not exist.
    for (const QString& path : QStringList{m_media + "/..", m_media + "/../Outside", m_media + "/escape/",
                                           m_root + "/Media2", "/etc", m_media + "/absent"})
        QCOMPARE(m_rig->ask(withPath("mediaexplore", path)),
                 "{\"command\":\"mediaexplore\",\"params\":{\"packet\":{\"filter\":\"" +
                     QByteArray(MediaExtensions::kAll) + "\",\"path\":\"" + path.toUtf8() + "\"}}}\n");
}

void TestMediaCommands::openPicksThePlayerBySuffix()
{
    const QStringList names{"c.flac", "Song.MP3", "clip.TS", "track", "A.txt"};
    for (const QString& name : names)
        m_rig->run(withPath("mediaopen", m_media + "/" + name));
    QCOMPARE(requests(m_rig->shell()),
             QStringList({"open " + m_media + "/c.flac", "open " + m_media + "/Song.MP3",
                          "open " + m_media + "/clip.TS", "open " + m_media + "/track"}));

    // The player starts from its own folder, the file one argument whatever its name holds.
    ConfigService::instance()->setValue("audioPlayer", m_root + "/Players/audio", QString());
    ConfigService::instance()->setValue("videoPlayer", m_root + "/Players/video", QString());
    m_rig->shell().clear();
    for (const QString& name : QStringList{"My \"best\" song.mp3", "clip.TS", "track", "A.txt"})
        m_rig->run(withPath("mediaopen", m_media + "/" + name));
    const QString cd = "cd " + m_root + "/Players";
    const QString start = "start " + m_root + "/Players/";
    QCOMPARE(requests(m_rig->shell()),
             QStringList({cd, start + "audio [" + m_media + "/My \"best\" song.mp3] in ", cd,
                          start + "video [" + m_media + "/clip.TS] in ", cd,
                          start + "audio [" + m_media + "/track] in "}));
}

void TestMediaCommands::openRefusesFilesOutsideMediaFolders()
{
    for (const QString& path :
         QStringList{m_media + "/leak.mp3", m_media + "/../Outside/secret.mp3", m_root + "/Media2/x.mp3",
                     m_media + "/absent.mp3", m_media + "/Sub"}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^mediaopen: not a file in the media folders"));
        m_rig->run(withPath("mediaopen", path));
    }
    QVERIFY(m_rig->shell().calls().isEmpty());
}

void TestMediaCommands::appExploreListsTheCache()
{
    AppService* service = AppService::instance();
    service->load();
    QVERIFY(m_rig->connectPhone());
    QCOMPARE(m_rig->ask(R"({"command":"appexplore"})"),
             QByteArray("{\"command\":\"appexplore\",\"params\":{\"apps\":[]}}\n"));

    QVERIFY(service->insert(app("Zed", "/opt/zed", "/opt", "--x \"a b\"", 2)));
    QVERIFY(service->insert(app("Editor", "/usr/bin/ed", "/home", QString(), 1)));
    service->load();
    QCOMPARE(m_rig->ask(R"({"command":"appexplore","params":{"any":1}})"),
             QByteArray("{\"command\":\"appexplore\",\"params\":{\"apps\":["
                        "{\"args\":\"\",\"name\":\"Editor\",\"path\":\"/usr/bin/ed\",\"workdir\":\"/home\"},"
                        "{\"args\":\"--x \\\"a "
                        "b\\\"\",\"name\":\"Zed\",\"path\":\"/opt/zed\",\"workdir\":\"/opt\"}]}}\n"));
}

void TestMediaCommands::appOpenStartsOnlyRegisteredEntries()
{
    AppService::instance()->apps() = {app("Tool", "/opt/tool/run", "/opt/tool", "--mode \"two words\"")};
    m_rig->run(openApp("/opt/tool/run", "/opt/tool", "--mode \"two words\""));
    QCOMPARE(requests(m_rig->shell()),
             QStringList({"cd /opt/tool", "start /opt/tool/run [--mode|two words] in /opt/tool"}));

    m_rig->shell().clear();
    for (const QByteArray& line : {openApp("/bin/sh", "/tmp", "-c \"touch /tmp/x\""),
                                   openApp("/opt/tool/run", "/opt/tool", "--mode \"two words\" --evil"),
                                   openApp("/opt/tool/run", "/", "--mode \"two words\""),
                                   openApp("/opt/tool/../tool/run", "/opt/tool", "--mode \"two words\""),
                                   QByteArray(R"({"command":"appopen"})")}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^appopen: not a registered application"));
        m_rig->run(line);
    }
    QVERIFY(m_rig->shell().calls().isEmpty());
}

void TestMediaCommands::appOpenReallyStartsTheProgram()
{
    const QString work = m_root + "/work dir";
    QVERIFY(QDir(m_root).mkpath("work dir"));
    writeRecorder(m_root + "/launch me", m_root + "/marker");
    AppService::instance()->apps() = {
        app("Script", m_root + "/launch me", work, "--title \"Two Words\" $HOME")};

    CommandRig real(false);
    real.run(openApp(m_root + "/launch me", work, "--title \"Two Words\" $HOME"));
    QTRY_VERIFY(QFile::exists(m_root + "/marker"));
    QCOMPARE(readText(m_root + "/marker"), work + "\n--title\nTwo Words\n$HOME\n");
    QCOMPARE(QDir::currentPath(), work); // the service stays in the started program's folder
}

void TestMediaCommands::closeWindowSendsAltF4()
{
    QSignalSpy messages(&m_rig->server(), &Server::logMessage);
    m_rig->run(R"({"command":"closewindow"})");
    using R = InputRecord;
    QCOMPARE(m_rig->input().records(), QVector<R>({R::key(18, 0, 0), R::key(115, 0, 0),
                                                   R::key(115, 0, R::KeyUp), R::key(18, 0, R::KeyUp)}));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), QString("收到关闭窗口命令"));
}

QTEST_GUILESS_MAIN(TestMediaCommands)
#include "tst_mediacommands.moc"
