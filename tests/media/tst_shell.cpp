#include "platform/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A script that writes its working directory and its arguments, one a line, to `marker`.
// The rename makes the marker appear complete or not at all.
void writeRecorder(const QString& scriptPath, const QString& marker)
{
    QFile script(scriptPath);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > '" + marker.toUtf8() + ".tmp' && mv '" +
                 marker.toUtf8() + ".tmp' '" + marker.toUtf8() + "'\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
}

QStringList markerLines(const QString& marker)
{
    QFile file(marker);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void programGetsArgumentsVerbatimInItsWorkingDirectory();
    void programNameIsLookedUpOnSearchPath();
    void missingProgramOrWorkingDirectoryFails();
    void desktopEntryStartsItsProgram();
    void nestedDesktopEntriesDoNotLoop();
    void documentsGoToTheOpener();
    void currentDirectoryChangesOnlyToExistingFolders();

private:
    QTemporaryDir* m_dir = nullptr;
    QByteArray m_savedPath;
    QString m_savedCurrent;
    std::unique_ptr<Shell> m_shell;
};

void TestShell::init()
{
    m_dir = new QTemporaryDir;
    m_savedPath = qgetenv("PATH");
    m_savedCurrent = QDir::currentPath();
    m_shell = createShell();
    // A stand-in opener: the test's bin folder comes first on the search path.
    QVERIFY(QDir(m_dir->path()).mkdir("bin"));
    writeRecorder(m_dir->path() + "/bin/xdg-open", m_dir->path() + "/opened");
    qputenv("PATH", m_dir->filePath("bin").toUtf8() + ':' + m_savedPath);
}

void TestShell::cleanup()
{
    qputenv("PATH", m_savedPath);
    QDir::setCurrent(m_savedCurrent);
    m_shell.reset();
    delete m_dir;
    m_dir = nullptr;
}

void TestShell::programGetsArgumentsVerbatimInItsWorkingDirectory()
{
    const QString root = m_dir->path();
    const QString marker = root + "/marker";
    writeRecorder(root + "/tool.sh", marker);
    QVERIFY(QDir(root).mkdir("work dir"));

    // Nothing here may be expanded or split again: no command interpreter sees it.
    const QStringList arguments{"two words", "$HOME", "; touch " + root + "/pwned", "", "\"q\""};
    QVERIFY(m_shell->startProgram(root + "/tool.sh", arguments, root + "/work dir"));
    QTRY_VERIFY(QFile::exists(marker));
    QCOMPARE(markerLines(marker), QStringList{root + "/work dir"} + arguments);
    QVERIFY(!QFile::exists(root + "/pwned"));
    // The caller's current directory is not touched by starting a program.
    QCOMPARE(QDir::currentPath(), m_savedCurrent);
}

void TestShell::programNameIsLookedUpOnSearchPath()
{
    const QString marker = m_dir->path() + "/marker";
    writeRecorder(m_dir->path() + "/bin/velmora-test-tool", marker);
    QVERIFY(m_shell->startProgram("velmora-test-tool", {"a"}, QString()));
    QTRY_VERIFY(QFile::exists(marker));
    QCOMPARE(markerLines(marker), QStringList({QDir::currentPath(), "a"}));
}

void TestShell::missingProgramOrWorkingDirectoryFails()
{
    const QString root = m_dir->path();
    writeRecorder(root + "/tool.sh", root + "/marker");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("working directory not found"));
    QVERIFY(!m_shell->startProgram(root + "/tool.sh", {}, root + "/no such dir"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("program not found"));
    QVERIFY(!m_shell->startProgram(root + "/absent", {}, QString()));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("program not found"));
    QVERIFY(!m_shell->startProgram("velmora-no-such-program", {}, QString()));
    QVERIFY(!m_shell->startProgram(QString(), {}, QString()));
    QTest::qWait(200);
    QVERIFY(!QFile::exists(root + "/marker"));
}

void TestShell::desktopEntryStartsItsProgram()
{
    const QString root = m_dir->path();
    const QString marker = root + "/marker";
    writeRecorder(root + "/player.sh", marker);
    QVERIFY(QDir(root).mkdir("entry dir"));
    writeText(root + "/player.desktop",
              "[Desktop Entry]\nType=Application\nName=Player\nExec=\"" + root.toUtf8() +
                  "/player.sh\" --fullscreen %U\nPath=" + root.toUtf8() + "/entry dir\n");

    QVERIFY(m_shell->startProgram(root + "/player.desktop", {"extra arg"}, QString()));
    QTRY_VERIFY(QFile::exists(marker));
    QCOMPARE(markerLines(marker), QStringList({root + "/entry dir", "--fullscreen", "extra arg"}));

    // A working directory from the caller wins over the entry's own.
    QFile::remove(marker);
    QVERIFY(m_shell->startProgram(root + "/player.desktop", {}, root));
    QTRY_VERIFY(QFile::exists(marker));
    QCOMPARE(markerLines(marker), QStringList({root, "--fullscreen"}));

    // An entry that is not one cannot be started, and is not handed to the opener either.
    writeText(root + "/broken.desktop", "not an entry\n");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not a launchable desktop entry"));
    QVERIFY(!m_shell->startProgram(root + "/broken.desktop", {}, QString()));
}

void TestShell::nestedDesktopEntriesDoNotLoop()
{
    const QString root = m_dir->path();
    writeText(root + "/a.desktop",
              "[Desktop Entry]\nType=Application\nExec=" + root.toUtf8() + "/b.desktop\n");
    writeText(root + "/b.desktop",
              "[Desktop Entry]\nType=Application\nExec=" + root.toUtf8() + "/a.desktop\n");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nested too deeply"));
    QVERIFY(!m_shell->startProgram(root + "/a.desktop", {}, QString()));
}

void TestShell::documentsGoToTheOpener()
{
    const QString root = m_dir->path();
    const QString opened = root + "/opened";
    writeText(root + "/notes.txt", "text");

    // Relative names reach the opener as absolute paths, so none can pass for an option.
    QVERIFY(QDir::setCurrent(root));
    QVERIFY(m_shell->openDocument("notes.txt"));
    QTRY_VERIFY(QFile::exists(opened));
    QCOMPARE(markerLines(opened).mid(1), QStringList{root + "/notes.txt"});

    // A document given as a program is opened; its arguments are not the opener's business.
    QFile::remove(opened);
    QVERIFY(m_shell->startProgram(root + "/notes.txt", {"--ignored"}, QString()));
    QTRY_VERIFY(QFile::exists(opened));
    QCOMPARE(markerLines(opened).mid(1), QStringList{root + "/notes.txt"});

    QFile::remove(opened);
    QVERIFY(m_shell->openDocument("https://example.org/a b"));
    QTRY_VERIFY(QFile::exists(opened));
    QCOMPARE(markerLines(opened).mid(1), QStringList{"https://example.org/a b"});

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nothing to open"));
    QVERIFY(!m_shell->openDocument(root + "/missing.txt"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nothing to open"));
    QVERIFY(!m_shell->openDocument(QString()));
}

void TestShell::currentDirectoryChangesOnlyToExistingFolders()
{
    const QString root = QFileInfo(m_dir->path()).canonicalFilePath();
    writeText(root + "/file", "x");
    QVERIFY(!m_shell->setCurrentDirectory(QString()));
    QVERIFY(!m_shell->setCurrentDirectory(root + "/missing"));
    QVERIFY(!m_shell->setCurrentDirectory(root + "/file"));
    QCOMPARE(QDir::currentPath(), m_savedCurrent);
    QVERIFY(m_shell->setCurrentDirectory(root));
    QCOMPARE(QDir::currentPath(), root);
}

QTEST_GUILESS_MAIN(TestShell)
#include "tst_shell.moc"
