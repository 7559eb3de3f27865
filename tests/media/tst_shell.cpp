#include "MediaTestSupport.h"

#include "platform/Shell.h"

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void programsStartWithVerbatimArguments();
    void desktopEntriesStartTheirProgram();
    void documentsGoToTheOpener();
    void currentDirectoryMovesOnlyToFolders();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    QByteArray m_savedPath;
    QString m_savedCurrent;
    std::unique_ptr<Shell> m_shell = createShell();
};

void TestShell::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_root = QFileInfo(m_dir->path()).canonicalFilePath();
    m_savedPath = qgetenv("PATH");
    m_savedCurrent = QDir::currentPath();
    // A stand-in desktop opener comes first on the search path.
    QVERIFY(QDir(m_root).mkdir("bin"));
    writeRecorder(m_root + "/bin/xdg-open", m_root + "/opened");
    qputenv("PATH", m_root.toUtf8() + "/bin:" + m_savedPath);
}

void TestShell::cleanup()
{
    qputenv("PATH", m_savedPath);
    QDir::setCurrent(m_savedCurrent);
}

void TestShell::programsStartWithVerbatimArguments()
{
    writeRecorder(m_root + "/tool", m_root + "/marker");
    QVERIFY(QDir(m_root).mkdir("work dir"));
    // No command interpreter sees these: nothing is expanded, split or run.
    const QStringList arguments{"two words", "$HOME", "; touch " + m_root + "/pwned", ""};
    QVERIFY(m_shell->startProgram(m_root + "/tool", arguments, m_root + "/work dir"));
    QTRY_VERIFY(QFile::exists(m_root + "/marker"));
    QCOMPARE(readText(m_root + "/marker"), (QStringList{m_root + "/work dir"} + arguments).join('\n') + '\n');
    QVERIFY(!QFile::exists(m_root + "/pwned"));
    QCOMPARE(QDir::currentPath(), m_savedCurrent);

    // A missing working directory fails rather than running the program elsewhere.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("working directory not found"));
    QVERIFY(!m_shell->startProgram(m_root + "/tool", {}, m_root + "/gone"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("program not found"));
    QVERIFY(!m_shell->startProgram("velmora-no-such-program", {}, QString()));
}

void TestShell::desktopEntriesStartTheirProgram()
{
    writeRecorder(m_root + "/player", m_root + "/marker");
    writeFile(m_root + "/player.desktop", "[Desktop Entry]\nType=Application\nExec=\"" + m_root.toUtf8() +
                                              "/player\" --full %U\nPath=" + m_root.toUtf8() + "/bin\n");
    QVERIFY(m_shell->startProgram(m_root + "/player.desktop", {"extra arg"}, QString()));
    QTRY_VERIFY(QFile::exists(m_root + "/marker"));
    QCOMPARE(readText(m_root + "/marker"), m_root + "/bin\n--full\nextra arg\n");

    // Entries naming each other give up instead of looping.
    writeFile(m_root + "/a.desktop",
              "[Desktop Entry]\nType=Application\nExec=" + m_root.toUtf8() + "/b.desktop\n");
    writeFile(m_root + "/b.desktop",
              "[Desktop Entry]\nType=Application\nExec=" + m_root.toUtf8() + "/a.desktop\n");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nested too deeply"));
    QVERIFY(!m_shell->startProgram(m_root + "/a.desktop", {}, QString()));
}

void TestShell::documentsGoToTheOpener()
{
    writeFile(m_root + "/notes.txt");
    QVERIFY(QDir::setCurrent(m_root));
    // A relative name reaches the opener absolute, so it cannot pass for an option.
    QVERIFY(m_shell->startProgram("./notes.txt", {"--ignored"}, QString()));
    QTRY_VERIFY(QFile::exists(m_root + "/opened"));
    QCOMPARE(readText(m_root + "/opened"), m_root + "\n" + m_root + "/notes.txt\n");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nothing to open"));
    QVERIFY(!m_shell->openDocument(m_root + "/missing.txt"));
}

void TestShell::currentDirectoryMovesOnlyToFolders()
{
    writeFile(m_root + "/file");
    for (const QString& path : QStringList{QString(), m_root + "/missing", m_root + "/file"})
        QVERIFY(!m_shell->setCurrentDirectory(path));
    QCOMPARE(QDir::currentPath(), m_savedCurrent);
    QVERIFY(m_shell->setCurrentDirectory(m_root));
    QCOMPARE(QDir::currentPath(), m_root);
}

QTEST_GUILESS_MAIN(TestShell)
#include "tst_shell.moc"
