#include "MediaTestSupport.h"

#include "data/FileExplorer.h"

#include <QJsonArray>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("data");
}

std::shared_ptr<MediaFolder> folder(const QString& name, const QString& path)
{
    auto record = std::make_shared<MediaFolder>();
    record->setName(name);
    record->setPath(path);
    return record;
}

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

class TestMediaCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void rootReplyListsTheRegisteredFolders();
    void folderReplyIsTheListingOfThatFolder();
    void pathsOutsideTheMediaFoldersLookMissing();
    void openPicksThePlayerBySuffix();
    void openRunsThePlayerFromItsFolderWithTheFileAsOneArgument();
    void openRefusesFilesOutsideTheMediaFolders();

private:
    QString media() const { return m_root.path() + "/Media"; }

    std::unique_ptr<TestContext> m_context;
    QTemporaryDir m_root;
    std::unique_ptr<CommandRig> m_rig;
};

void TestMediaCommands::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());

    // Media holds the listing example, a file without suffix and two links that lead out;
    // Media2 shares Media's name as a prefix but is not registered.
    const QString root = m_root.path();
    QDir dir(root);
    for (const char* sub : {"Media", "Media/Sub", "Media2", "Outside", "Players"})
        QVERIFY(dir.mkpath(sub));
    for (const char* file :
         {"Media/b.MKV", "Media/A.txt", "Media/c.flac", "Media/.h.mp3", "Media/track", "Media/Song.MP3",
          "Media/clip.TS", "Media/Sub/deep.mp3", "Media/My \"best\" song.mp3", "Media2/x.mp3",
          "Outside/secret.mp3", "Players/audio", "Players/video"})
        touch(root + "/" + file);
    QVERIFY(QFile::link(root + "/Outside", root + "/Media/escape"));
    QVERIFY(QFile::link(root + "/Outside/secret.mp3", root + "/Media/leak.mp3"));
}

void TestMediaCommands::cleanupTestCase()
{
    MediaService::instance()->folders().clear();
    releaseDatabases();
    m_context.reset();
}

void TestMediaCommands::init()
{
    MediaService::instance()->folders() = {folder("Media", media())};
    ConfigService::instance()->setValue("audioPlayer", QString(), QString());
    ConfigService::instance()->setValue("videoPlayer", QString(), QString());
    m_rig = std::make_unique<CommandRig>();
}

void TestMediaCommands::cleanup()
{
    m_rig.reset();
}

void TestMediaCommands::rootReplyListsTheRegisteredFolders()
{
    // The root lists the cache as it is: the first folder need not exist.
    MediaService::instance()->folders() = {folder("Films", "/no/such/films"), folder("Music", media())};
    QVERIFY(m_rig->connectPhone());

    const QByteArray expected = "{\"command\":\"mediaexplore\",\"params\":{\"packet\":{\"dirs\":[{\"name\":"
                                "\"Films\",\"path\":\"/no/such/"
                                "films\"},{\"name\":\"Music\",\"path\":\"" +
                                media().toUtf8() +
                                "\"}],\"files\":[],\"filter\":\"none\",\"path\":\"/"
                                "\",\"statistics\":{\"directoryCount\":2,\"fileCount\":"
                                "0}},\"root\":true}}\n";
    QCOMPARE(m_rig->ask(R"({"command":"mediaexplore","params":{"path":"/"}})"), expected);
    QCOMPARE(m_rig->ask(R"({"command":"mediaexplore","params":{}})"), expected);
    QCOMPARE(m_rig->ask(R"({"command":"mediaexplore"})"), expected);
    QCOMPARE(m_rig->ask(R"({"command":"mediaexplore","params":{"path":42}})"), expected);
    QCOMPARE(m_rig->unreadBytes(), 0);
}

void TestMediaCommands::folderReplyIsTheListingOfThatFolder()
{
    QVERIFY(m_rig->connectPhone());
    const QString path = media();
    const QByteArray reply = m_rig->ask(pathCommand("mediaexplore", path));
    QCOMPARE(reply, expectedReply("mediaexplore", {{"packet", directoryListing(path)}}));
    QVERIFY(!reply.contains("\"root\""));
    const QJsonObject packet =
        QJsonDocument::fromJson(reply).object().value("params").toObject().value("packet").toObject();
    QCOMPARE(packet.value("dirs").toArray(), QJsonArray({"Sub", "escape"}));

    // Going down, and a ".." that stays inside, are served; the phone gets its own text back.
    for (const QString& inside : QStringList{path + "/Sub", path + "/Sub/..", path + "/"}) {
        QJsonObject listing = directoryListing(canonical(inside));
        listing.insert("path", inside);
        QCOMPARE(m_rig->ask(pathCommand("mediaexplore", inside)),
                 expectedReply("mediaexplore", {{"packet", listing}}));
    }
}

void TestMediaCommands::pathsOutsideTheMediaFoldersLookMissing()
{
    QVERIFY(m_rig->connectPhone());
    const QString root = m_root.path();
    const QStringList refused{media() + "/..",      media() + "/../Outside", media() + "/escape",
                              media() + "/escape/", root + "/Media2",        "/etc",
                              media() + "/absent",  media() + "/c.flac"};
    for (const QString& path : refused) {
        QJsonObject missing{{"path", path}, {"filter", MediaExtensions::kAll}};
        QCOMPARE(m_rig->ask(pathCommand("mediaexplore", path)),
                 expectedReply("mediaexplore", {{"packet", missing}}));
    }

    // A user who registers the file system root shares all of it.
    MediaService::instance()->folders() = {folder("All", "/")};
    const QByteArray reply = m_rig->ask(pathCommand("mediaexplore", root + "/Outside"));
    QVERIFY(reply.contains("secret.mp3"));
}

void TestMediaCommands::openPicksThePlayerBySuffix()
{
    // No player chosen: the desktop opens each media file; anything else is ignored.
    for (const char* name : {"c.flac", "Song.MP3", "clip.TS", "b.MKV", "track", "A.txt"})
        m_rig->run(pathCommand("mediaopen", media() + "/" + name));
    QStringList opened;
    for (const auto& call : m_rig->shell().calls()) {
        QCOMPARE(call.kind, ShellFake::Call::OpenDocument);
        opened << call.path;
    }
    const QString dir = canonical(media());
    QCOMPARE(opened, QStringList({dir + "/c.flac", dir + "/Song.MP3", dir + "/clip.TS", dir + "/b.MKV",
                                  dir + "/track"}));

    // With both players chosen, the suffix picks one; no suffix counts as audio.
    const QString audio = m_root.path() + "/Players/audio";
    const QString video = m_root.path() + "/Players/video";
    ConfigService::instance()->setValue("audioPlayer", audio, QString());
    ConfigService::instance()->setValue("videoPlayer", video, QString());
    const QList<QPair<QString, QString>> cases{
        {"Song.MP3", audio}, {"clip.TS", video}, {"track", audio}, {"b.MKV", video}, {"Sub/deep.mp3", audio}};
    for (const auto& [name, player] : cases) {
        m_rig->shell().clear();
        m_rig->run(pathCommand("mediaopen", media() + "/" + name));
        QCOMPARE(m_rig->shell().calls().size(), 2);
        QCOMPARE(m_rig->shell().calls().at(1).path, player);
    }
    m_rig->shell().clear();
    m_rig->run(pathCommand("mediaopen", media() + "/A.txt"));
    QVERIFY(m_rig->shell().calls().isEmpty());
}

void TestMediaCommands::openRunsThePlayerFromItsFolderWithTheFileAsOneArgument()
{
    const QString player = m_root.path() + "/Players/audio";
    ConfigService::instance()->setValue("audioPlayer", player, QString());
    m_rig->run(pathCommand("mediaopen", media() + "/My \"best\" song.mp3"));

    const auto& calls = m_rig->shell().calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0).kind, ShellFake::Call::SetCurrentDirectory);
    QCOMPARE(calls.at(0).path, canonical(m_root.path() + "/Players"));
    QCOMPARE(calls.at(1).kind, ShellFake::Call::StartProgram);
    QCOMPARE(calls.at(1).path, player);
    QCOMPARE(calls.at(1).arguments, QStringList{canonical(media()) + "/My \"best\" song.mp3"});
    QCOMPARE(calls.at(1).workDir, QString());
}

void TestMediaCommands::openRefusesFilesOutsideTheMediaFolders()
{
    ConfigService::instance()->setValue("audioPlayer", m_root.path() + "/Players/audio", QString());
    const QString root = m_root.path();
    const QStringList refused{media() + "/leak.mp3",
                              media() + "/../Outside/secret.mp3",
                              root + "/Media2/x.mp3",
                              media() + "/escape/secret.mp3",
                              media() + "/absent.mp3",
                              media() + "/Sub",
                              QString()};
    for (const QString& path : refused) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^mediaopen: not a file in the media folders"));
        m_rig->run(pathCommand("mediaopen", path));
    }
    QVERIFY(m_rig->shell().calls().isEmpty());
}

QTEST_GUILESS_MAIN(TestMediaCommands)
#include "tst_mediacommands.moc"
