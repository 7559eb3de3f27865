#include "LnkBuilder.h"

#include "data/DesktopApp.h"
#include "platform/ShortcutReader.h"
#include "platform/ShortcutReaderDesktopEntry.h"
#include "platform/ShortcutReaderLnk.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace lnk;

namespace {

QByteArray programLink(bool unicode)
{
    const quint32 flags = HasLinkTargetIdList | HasLinkInfo | HasName | HasWorkingDir | HasArguments |
                          HasIconLocation | (unicode ? quint32(IsUnicode) : 0u);
    return header(flags) + idList(myComputer() + volumeItem("C:\\")) +
           linkInfoLocal("C:\\Program Files\\Tool\\tool.exe", "", unicode) +
           stringData("Starts the tool", unicode) + stringData("C:\\Work Dir", unicode) +
           stringData("--open \"a b.txt\" -v", unicode) + stringData("C:\\Tool\\tool.ico", unicode) + u32(0);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList g_messages;
void captureMessages(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_messages.append(message);
}

} // namespace

class TestShortcutReader : public QObject
{
    Q_OBJECT
private slots:
    void linkInfoTargetAndStrings_data();
    void linkInfoTargetAndStrings();
    void unicodeLinkInfoPath();
    void idListTarget_data();
    void idListTarget();
    void networkAndEnvironmentTargets();
    void textsAreCutLikeTheShell();
    void notALinkOrDamaged();
    void loadShortcutFillsTheRecord();
    void loadShortcutLeavesOtherFilesAlone();
    void desktopEntries();
    void desktopEntryThroughTheRecord();
    void argumentsSurviveTheLauncherSplit();
};

void TestShortcutReader::linkInfoTargetAndStrings_data()
{
    QTest::addColumn<bool>("unicode");
    QTest::newRow("unicode strings") << true;
    QTest::newRow("ansi strings") << false;
}

void TestShortcutReader::linkInfoTargetAndStrings()
{
    QFETCH(bool, unicode);
    const auto info = parseShellLink(programLink(unicode));
    QVERIFY(info);
    // The link info wins over the ID list, which here only reaches the drive.
    QCOMPARE(info->target, QStringLiteral("C:\\Program Files\\Tool\\tool.exe"));
    QCOMPARE(info->workingDirectory, QStringLiteral("C:\\Work Dir"));
    QCOMPARE(info->arguments, QStringLiteral("--open \"a b.txt\" -v"));
    QVERIFY(info->name.isEmpty());
}

void TestShortcutReader::unicodeLinkInfoPath()
{
    const QString path = QStringLiteral("C:\\Müzik\\播放器\\player.exe");
    const quint32 flags = HasLinkInfo | HasWorkingDir;
    auto info =
        parseShellLink(header(flags) + linkInfoLocal(path, "", true) + stringData("C:\\Müzik", false));
    QVERIFY(info);
    QCOMPARE(info->target, path);
    QCOMPARE(info->workingDirectory, QStringLiteral("C:\\Müzik")); // 8-bit text from code page 1252

    // Without the Unicode offsets the 8-bit path is used; a suffix is appended as it is.
    info = parseShellLink(header(HasLinkInfo) + linkInfoLocal("C:\\Café\\", "bin\\run.exe", false));
    QVERIFY(info);
    QCOMPARE(info->target, QStringLiteral("C:\\Café\\bin\\run.exe"));
}

void TestShortcutReader::idListTarget_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("Windows 8 and later") << 9;
    QTest::newRow("Windows 7") << 8;
    QTest::newRow("Vista") << 7;
    QTest::newRow("XP") << 3;
}

void TestShortcutReader::idListTarget()
{
    QFETCH(int, version);
    const QByteArray items = myComputer() + volumeItem("C:\\") +
                             fileItem(true, "PROGRA~1", "Program Files", version) +
                             fileItem(true, "MEDIAP~1", QStringLiteral("Média Player"), version) +
                             fileItem(false, "PLAYER~1.EXE", "player64.exe", version);
    const auto info = parseShellLink(header(HasLinkTargetIdList | HasArguments | IsUnicode) + idList(items) +
                                     stringData("--fullscreen", true));
    QVERIFY(info);
    QCOMPARE(info->target, QStringLiteral("C:\\Program Files\\Média Player\\player64.exe"));
    QCOMPARE(info->arguments, QStringLiteral("--fullscreen"));

    // Without extension blocks the 8.3 names are all there is.
    const auto shortNames = parseShellLink(
        header(HasLinkTargetIdList) + idList(myComputer() + volumeItem("D:\\") + fileItem(true, "GAMES", "") +
                                             fileItem(false, "RUN.EXE", "")));
    QVERIFY(shortNames);
    QCOMPARE(shortNames->target, QStringLiteral("D:\\GAMES\\RUN.EXE"));
}

void TestShortcutReader::networkAndEnvironmentTargets()
{
    auto info = parseShellLink(header(HasLinkInfo) + linkInfoNetwork("\\\\server\\share", "tools\\app.exe"));
    QVERIFY(info);
    QCOMPARE(info->target, QStringLiteral("\\\\server\\share\\tools\\app.exe"));

    // A shell namespace item (here a control panel) has no file-system path: empty target.
    info = parseShellLink(header(HasLinkTargetIdList | HasArguments) +
                          idList(controlPanel() + fileItem(false, "X", "")) +
                          stringData("/name Microsoft.Mouse", false));
    QVERIFY(info);
    QVERIFY(info->target.isEmpty());
    QCOMPARE(info->arguments, QStringLiteral("/name Microsoft.Mouse"));

    // With neither link info nor a usable ID list, the environment block's text is taken.
    info =
        parseShellLink(header(HasExpString | HasWorkingDir | IsUnicode) + stringData("%USERPROFILE%", true) +
                       environmentBlock("%windir%\\system32\\notepad.exe") + u32(0));
    QVERIFY(info);
    QCOMPARE(info->target, QStringLiteral("%windir%\\system32\\notepad.exe"));
    QCOMPARE(info->workingDirectory, QStringLiteral("%USERPROFILE%"));
}

void TestShortcutReader::textsAreCutLikeTheShell()
{
    const QString longArguments = QString(300, QLatin1Char('a'));
    const QString longTarget = QStringLiteral("C:\\") + QString(290, QLatin1Char('t'));
    auto info = parseShellLink(header(HasLinkInfo | HasArguments | IsUnicode) +
                               linkInfoLocal(longTarget, "", true) + stringData(longArguments, true));
    QVERIFY(info);
    QCOMPARE(info->arguments, QString(259, QLatin1Char('a')));
    QCOMPARE(info->target, longTarget.left(259));

    // A cut that would split a surrogate pair drops its first half too.
    const QString emoji = QString(258, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x8E\xB5");
    info = parseShellLink(header(HasArguments | IsUnicode) + stringData(emoji, true));
    QVERIFY(info);
    QCOMPARE(info->arguments, QString(258, QLatin1Char('x')));
}

void TestShortcutReader::notALinkOrDamaged()
{
    QVERIFY(!parseShellLink(QByteArray()));
    QVERIFY(!parseShellLink("Just some notes, not a shortcut.\n"));
    QByteArray wrongClsid = programLink(true);
    wrongClsid[5] = '\x15';
    QVERIFY(!parseShellLink(wrongClsid));
    // String data running past the end of the file.
    QVERIFY(!parseShellLink(header(HasArguments | IsUnicode) + u16(200) + utf16("short")));

    // Every cut and many random corruptions of a real link must be handled without a crash
    // or a read outside the buffer (run under the sanitizers in CI).
    const QByteArray good = programLink(true) + idList(myComputer() + volumeItem("C:\\") +
                                                       fileItem(false, "A~1.EXE", "application.exe"));
    for (int length = 0; length < good.size(); ++length)
        parseShellLink(good.left(length));
    QRandomGenerator random(20240611);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = good;
        const int flips = 1 + random.bounded(6);
        for (int i = 0; i < flips; ++i)
            bytes[0x4C + random.bounded(bytes.size() - 0x4C)] = char(random.bounded(256));
        const auto info = parseShellLink(bytes);
        if (info)
            QVERIFY(info->target.size() <= 259 && info->arguments.size() <= 259);
    }
}

void TestShortcutReader::loadShortcutFillsTheRecord()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Media.Player.lnk");
    writeFile(path, programLink(true));

    DesktopApp app;
    app.setId(7);
    app.setSortNum(3);
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    app.loadShortcut(path);
    qInstallMessageHandler(previous);

    QCOMPARE(app.name(), QStringLiteral("Media"));
    QCOMPARE(app.path(), QStringLiteral("C:\\Program Files\\Tool\\tool.exe"));
    QCOMPARE(app.workDir(), QStringLiteral("C:\\Work Dir"));
    QCOMPARE(app.param(), QStringLiteral("--open \"a b.txt\" -v"));
    QCOMPARE(app.id(), 7);
    QCOMPARE(app.sortNum(), 3);
    QCOMPARE(g_messages, QStringList({"Name: Media", "Target: C:\\Program Files\\Tool\\tool.exe",
                                      "Working Dir: C:\\Work Dir", "Arguments: --open \"a b.txt\" -v"}));
}

void TestShortcutReader::loadShortcutLeavesOtherFilesAlone()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("notes.txt"), "Just some notes.\n");
    writeFile(dir.filePath("notes.lnk"), "Just some notes.\n");
    writeFile(dir.filePath("Program.lnk"),
              programLink(false)); // right bytes, but read below under another name
    QFile::copy(dir.filePath("Program.lnk"), dir.filePath("program.bin"));

    for (const char* name : {"notes.txt", "notes.lnk", "missing.lnk", "program.bin", ""}) {
        DesktopApp app;
        app.setName("Kept");
        app.setPath("/usr/bin/kept");
        app.setWorkDir("/tmp");
        app.setParam("-k");
        app.loadShortcut(dir.filePath(QString::fromLatin1(name)));
        QCOMPARE(app.name(), QStringLiteral("Kept"));
        QCOMPARE(app.path(), QStringLiteral("/usr/bin/kept"));
        QCOMPARE(app.workDir(), QStringLiteral("/tmp"));
        QCOMPARE(app.param(), QStringLiteral("-k"));
    }
    // The suffix is matched without regard to case.
    QFile::rename(dir.filePath("Program.lnk"), dir.filePath("Program.LNK"));
    DesktopApp app;
    app.loadShortcut(dir.filePath("Program.LNK"));
    QCOMPARE(app.path(), QStringLiteral("C:\\Program Files\\Tool\\tool.exe"));
}

void TestShortcutReader::desktopEntries()
{
    // Each entry: the file, then name|target|arguments|working directory, or "-" for no shortcut.
    const char* const head = "[Desktop Entry]\nType=Application\n";
    const QList<QPair<QByteArray, QString>> cases = {
        {QByteArray(head) + "Name=Text Editor\nExec=/usr/bin/gedit --new-window %U\nPath=/home/me\n",
         "Text Editor|/usr/bin/gedit|--new-window|/home/me"},
        // Quoting with backslash escapes (doubled once as a string value), "%%", dropped codes.
        {QByteArray("# comment\n") + head +
             "Name[de]=Spieler\nName=Player\n"
             "Exec=\"/opt/My Player/run\" --title=\"say \\\\\"hi\\\\\"\" %f --rate=50%% %i\n",
         "Player|/opt/My Player/run|\"--title=say \"\"\"hi\"\"\"\" --rate=50%|"},
        // \s becomes a blank before Exec is split, so there it separates arguments.
        {QByteArray(head) + "Name=Two\\sWords\nExec=/bin/tool a\\sb\nPath=/srv/My\\sDir\n",
         "Two Words|/bin/tool|a b|/srv/My Dir"},
        {QByteArray(head) +
             "Name=Browser\nExec=/usr/bin/browser %u\n[Desktop Action private]\nExec=/usr/bin/x\n",
         "Browser|/usr/bin/browser||"},
        {"[Desktop Entry]\nType=Link\nName=Docs\nURL=file:///usr/share/doc\n", "Docs|/usr/share/doc||"},
        {QByteArray(head) + "Name=Broken\n", "-"},
        {QByteArray(head) + "Exec=%U\n", "-"},
        {"[Desktop Entry]\nType=Directory\nName=Games\n", "-"},
        {"Type=Application\nExec=/bin/true\n", "-"},
    };
    for (const auto& [entry, expected] : cases) {
        const auto info = parseDesktopEntry(entry);
        const QString got =
            info ? QStringList({info->name, info->target, info->arguments, info->workingDirectory})
                       .join(QLatin1Char('|'))
                 : QStringLiteral("-");
        QCOMPARE(got, expected);
    }
}

void TestShortcutReader::desktopEntryThroughTheRecord()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("org.example.Shell.desktop"),
              "[Desktop Entry]\nType=Application\nExec=sh -c \"echo hi\"\nPath=/tmp\n");
    DesktopApp app;
    app.loadShortcut(dir.filePath("org.example.Shell.desktop"));
    // No Name: the file's base name. A bare program is resolved on PATH.
    QCOMPARE(app.name(), QStringLiteral("org"));
    QCOMPARE(app.path(), QStandardPaths::findExecutable("sh"));
    QCOMPARE(app.param(), QStringLiteral("-c \"echo hi\""));
    QCOMPARE(app.workDir(), QStringLiteral("/tmp"));
}

void TestShortcutReader::argumentsSurviveTheLauncherSplit()
{
    const QStringList arguments = {"plain", "two words", "say \"hi\"", "tab\there", "50%", "\"", "last"};
    QCOMPARE(QProcess::splitCommand(joinArguments(arguments)), arguments);
    QCOMPARE(splitExecLine(QStringLiteral("a  \"b c\"\t%F d%%e")), QStringList({"a", "b c", "d%e"}));
    QCOMPARE(createShortcutReader()->read(QStringLiteral("/nonexistent/x.desktop")).has_value(), false);
}

QTEST_GUILESS_MAIN(TestShortcutReader)
#include "tst_shortcutreader.moc"
