#include "MediaTestSupport.h"

namespace {

std::shared_ptr<DesktopApp> app(const QString& name, const QString& path, const QString& workDir,
                                const QString& param, int sortNum = 0)
{
    auto record = std::make_shared<DesktopApp>();
    record->setName(name);
    record->setPath(path);
    record->setWorkDir(workDir);
    record->setParam(param);
    record->setSortNum(sortNum);
    return record;
}

QByteArray openLine(const QString& path, const QString& workdir, const QString& args)
{
    return commandLine("appopen", QJsonObject{{"path", path}, {"workdir", workdir}, {"args", args}});
}

} // namespace

class TestAppCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void exploreListsTheCacheInOrderWithExactKeys();
    void openStartsARegisteredEntryInItsWorkingDirectory();
    void openIgnoresAnythingNotRegistered();
    void openReallyStartsTheProgram();
    void closeWindowSendsAltF4Once();

private:
    std::unique_ptr<TestContext> m_context;
    QString m_savedCurrent;
};

void TestAppCommands::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());
    m_savedCurrent = QDir::currentPath();
}

void TestAppCommands::cleanupTestCase()
{
    AppService::instance()->apps().clear();
    releaseDatabases();
    m_context.reset();
}

void TestAppCommands::cleanup()
{
    QDir::setCurrent(m_savedCurrent);
}

void TestAppCommands::exploreListsTheCacheInOrderWithExactKeys()
{
    AppService* service = AppService::instance();
    service->load();
    CommandRig rig;
    QVERIFY(rig.connectPhone());
    QCOMPARE(rig.ask(R"({"command":"appexplore","params":{}})"),
             QByteArray("{\"command\":\"appexplore\",\"params\":{\"apps\":[]}}\n"));

    QVERIFY(service->insert(app("Zed", "/opt/zed/zed", "/opt/zed", "--new-window \"a b\"", 2)));
    QVERIFY(service->insert(app("Editor", "/usr/bin/editor", "/home", QString(), 1)));
    // The phone sees the snapshot until the list is applied (loaded) again.
    QCOMPARE(rig.ask(R"({"command":"appexplore"})"),
             QByteArray("{\"command\":\"appexplore\",\"params\":{\"apps\":[]}}\n"));
    service->load();
    QCOMPARE(
        rig.ask(R"({"command":"appexplore","params":{"ignored":true}})"),
        QByteArray("{\"command\":\"appexplore\",\"params\":{\"apps\":["
                   "{\"args\":\"\",\"name\":\"Editor\",\"path\":\"/usr/bin/editor\",\"workdir\":\"/home\"},"
                   "{\"args\":\"--new-window \\\"a b\\\"\",\"name\":\"Zed\",\"path\":\"/opt/zed/zed\","
                   "\"workdir\":\"/opt/zed\"}]}}\n"));
    QCOMPARE(rig.unreadBytes(), 0);
    service->apps().clear();
}

void TestAppCommands::openStartsARegisteredEntryInItsWorkingDirectory()
{
    AppService::instance()->apps() = {app("Tool", "/opt/tool/run", "/opt/tool", "--mode \"two words\" x")};
    CommandRig rig;
    rig.run(openLine("/opt/tool/run", "/opt/tool", "--mode \"two words\" x"));

    const auto& calls = rig.shell().calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0).kind, ShellFake::Call::SetCurrentDirectory);
    QCOMPARE(calls.at(0).path, QString("/opt/tool"));
    QCOMPARE(calls.at(1).kind, ShellFake::Call::StartProgram);
    QCOMPARE(calls.at(1).path, QString("/opt/tool/run"));
    QCOMPARE(calls.at(1).arguments, QStringList({"--mode", "two words", "x"}));
    QCOMPARE(calls.at(1).workDir, QString("/opt/tool"));
}

void TestAppCommands::openIgnoresAnythingNotRegistered()
{
    AppService::instance()->apps() = {app("Tool", "/opt/tool/run", "/opt/tool", "--safe"),
                                      app("Bare", "/opt/bare", QString(), QString())};
    CommandRig rig;
    const QList<QByteArray> lines{
        openLine("/bin/sh", "/tmp", "-c \"touch /tmp/x\""),       // never registered
        openLine("/opt/tool/run", "/opt/tool", "--safe --evil"),  // other arguments
        openLine("/opt/tool/run", "/", "--safe"),                 // other working directory
        openLine("/opt/tool/../tool/run", "/opt/tool", "--safe"), // other spelling of the path
        R"({"command":"appopen","params":{}})",                   // nothing at all
    };
    for (const QByteArray& line : lines) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^appopen: not a registered application"));
        rig.run(line);
    }
    QVERIFY(rig.shell().calls().isEmpty());

    // Missing members read as empty texts, so an entry registered without them still matches.
    rig.run(R"({"command":"appopen","params":{"path":"/opt/bare"}})");
    QCOMPARE(rig.shell().calls().size(), 2);
}

void TestAppCommands::openReallyStartsTheProgram()
{
    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath();
    const QString work = root + "/work dir";
    const QString marker = root + "/marker";
    QVERIFY(QDir(root).mkdir("work dir"));
    const QString script = root + "/launch me.sh";
    {
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > '" + marker.toUtf8() + ".tmp' && mv '" +
                   marker.toUtf8() + ".tmp' '" + marker.toUtf8() + "'\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    }
    const QString args = "--title \"Two Words\" $HOME";
    AppService::instance()->apps() = {app("Script", script, work, args)};

    CommandRig rig(false);
    rig.run(openLine(script, work, args));
    QTRY_VERIFY(QFile::exists(marker));
    QFile file(marker);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), work + "\n--title\nTwo Words\n$HOME\n");
    // The service itself stays in the working directory of what it started.
    QCOMPARE(QDir::currentPath(), work);
}

void TestAppCommands::closeWindowSendsAltF4Once()
{
    CommandRig rig;
    QSignalSpy messages(&rig.server(), &Server::logMessage);
    rig.run(R"({"command":"closewindow","params":{"ignored":1}})");

    using R = InputRecord;
    QCOMPARE(rig.input().records(), QVector<R>({R::key(18, 0, 0), R::key(115, 0, 0), R::key(115, 0, R::KeyUp),
                                                R::key(18, 0, R::KeyUp)}));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), QString("收到关闭窗口命令"));
}

QTEST_GUILESS_MAIN(TestAppCommands)
#include "tst_appcommands.moc"
