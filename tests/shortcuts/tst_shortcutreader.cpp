#include "data/DataTestSupport.h"
#include "data/DesktopApp.h"
#include "platform/shell/ShortcutReaderDesktopEntry.h"
#include "platform/shell/ShortcutReaderLnk.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTextCodec>
#include <QtTest>

#include <sys/stat.h>

// Shell-link files are built byte by byte from the published MS-SHLLINK layout, so the tests
// need no file made on Windows. The format's constants are written out here, not shared with
// the reader, so that a wrong value there cannot hide behind the same value here.
namespace {

constexpr quint32 IdList = 0x1, LinkInfo = 0x2, Name = 0x4, WorkingDir = 0x10, Arguments = 0x20,
                  IconLocation = 0x40, Unicode = 0x80; // link flags

struct Lnk
{
    static QByteArray u16(quint16 v) { return QByteArray().append(char(v & 0xFF)).append(char(v >> 8)); }
    static QByteArray u32(quint32 v) { return u16(quint16(v & 0xFFFF)) + u16(quint16(v >> 16)); }
    static QByteArray zeros(int count) { return QByteArray(count, '\0'); }
    static QByteArray padded(const QByteArray& bytes, int size) { return bytes + zeros(size - bytes.size()); }
    static QByteArray utf16(const QString& s, bool terminated = false)
    {
        QByteArray out;
        for (QChar c : s)
            out += u16(c.unicode());
        return terminated ? out + u16(0) : out;
    }
    static QByteArray cp1252(const QString& s, bool terminated = false)
    {
        return QTextCodec::codecForName("Windows-1252")->fromUnicode(s) + zeros(terminated ? 1 : 0);
    }
    // One StringData entry: a character count and the characters without terminator.
    static QByteArray str(const QString& s, bool unicode)
    {
        return u16(quint16(s.size())) + (unicode ? utf16(s) : cp1252(s));
    }
    static QByteArray header(quint32 flags)
    {
        const char clsid[] = "\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46";
        return padded(u32(0x4C) + QByteArray(clsid, 16) + u32(flags) + u32(0x20 /* archive */), 0x4C);
    }
    // LinkInfo with a local base path; with `unicode`, the optional Unicode offsets too.
    static QByteArray linkInfo(const QString& base, const QString& suffix, bool unicode)
    {
        const quint32 headerSize = unicode ? 0x24 : 0x1C;
        QByteArray tail = u32(0x11) + u32(3) + u32(0x1234ABCD) + u32(0x10) + zeros(1); // volume id
        const quint32 baseOffset = headerSize + tail.size();
        tail += cp1252(base, true);
        QByteArray fields = u32(headerSize) + u32(1) + u32(headerSize) + u32(baseOffset) + u32(0) +
                            u32(headerSize + tail.size());
        tail += cp1252(suffix, true);
        if (unicode) {
            fields +=
                u32(headerSize + tail.size()) + u32(headerSize + tail.size() + utf16(base, true).size());
            tail += utf16(base, true) + utf16(suffix, true);
        }
        return u32(4 + fields.size() + tail.size()) + fields + tail;
    }
    static QByteArray item(const QByteArray& data) { return u16(quint16(data.size() + 2)) + data; }
    static QByteArray idList(const QByteArray& items)
    {
        return u16(quint16(items.size() + 2)) + items + u16(0);
    }
    // "This PC" and a drive: where every file-system ID list starts.
    static QByteArray drive(const char* root)
    {
        const char myComputer[] = "\x1F\x50\xE0\x4F\xD0\x20\xEA\x3A\x69\x10\xA2\xD8\x08\x00\x2B\x30\x30\x9D";
        return item(QByteArray(myComputer, 18)) + item(padded("\x2F" + QByteArray(root), 23));
    }
    // A folder or file item: an 8.3 name, and a long name in a 0xBEEF0004 block of `version`.
    static QByteArray file(bool folder, const QString& shortName, const QString& longName = {},
                           int version = 9)
    {
        QByteArray data = QByteArray(1, folder ? '\x31' : '\x32') + zeros(1) + u32(1234) + u32(0x5A3B1C2D) +
                          u16(folder ? 0x10 : 0x20) + shortName.toLatin1() + zeros(1);
        data += zeros(data.size() % 2);
        if (longName.isEmpty())
            return item(data);
        QByteArray block = u32(0x5A3B1C2D) + u32(0x5A3B1C2D) + u16(version >= 9 ? 0x2E : 0x14);
        if (version >= 7)
            block += zeros(2) + QByteArray(8, '\x11') + zeros(8);
        block += zeros((version >= 3 ? 2 : 0) + (version >= 9 ? 4 : 0) + (version >= 8 ? 4 : 0));
        block += utf16(longName, true) + (version >= 3 ? u16(0x14) : QByteArray());
        return item(data + u16(quint16(block.size() + 8)) + u16(quint16(version)) + u32(0xBEEF0004) + block);
    }
    // A link with every string; its ID list reaches only the drive, its link info the program.
    static QByteArray program(bool unicode)
    {
        return header(IdList | LinkInfo | Name | WorkingDir | Arguments | IconLocation |
                      (unicode ? quint32(Unicode) : 0u)) +
               idList(drive("C:\\")) + linkInfo(Target, "", unicode) + str("Starts the tool", unicode) +
               str("C:\\Work Dir", unicode) + str("--open \"a b.txt\" -v", unicode) +
               str("C:\\tool.ico", unicode) + u32(0);
    }
    static inline const QString Target = QStringLiteral("C:\\Program Files\\Tool\\tool.exe");
    static inline const QString Strings = QStringLiteral("C:\\Work Dir|--open \"a b.txt\" -v");
};

} // namespace

class TestShortcutReader : public QObject, private Lnk
{
    Q_OBJECT
private slots:
    void shortcuts_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("record"); // name|path|workDir|param after loading the file
        const QString kept = QStringLiteral("Kept|/usr/bin/kept|/tmp|-k");
        QTest::newRow("link, named up to the first dot")
            << "Media.Player.lnk" << program(true) << "Media|" + Target + "|" + Strings;
        QTest::newRow("8-bit strings, suffix in any case")
            << "t.LNK" << program(false) << "t|" + Target + "|" + Strings;
        QTest::newRow("unicode base path and suffix, 8-bit text from code page 1252")
            << "t.lnk"
            << header(LinkInfo | WorkingDir) + linkInfo("C:\\Müzik\\播放器\\", "p.exe", true) +
                   str("C:\\Müzik", false)
            << "t|C:\\Müzik\\播放器\\p.exe|C:\\Müzik|";
        // Folders and file by their long names where an extension block gives them, else 8.3.
        for (int version : {9, 8, 7, 3})
            QTest::addRow("ID list, extension block version %d", version)
                << "t.lnk"
                << header(IdList | Arguments | Unicode) +
                       idList(drive("C:\\") + file(true, "MEDIAP~1", "Média Player", version) +
                              file(true, "GAMES") + file(false, "PLAYER~1.EXE", "player64.exe", version)) +
                       str("--fullscreen", true)
                << "t|C:\\Média Player\\GAMES\\player64.exe||--fullscreen";
        // Texts are cut to the shell's 259 units, never between the halves of a surrogate pair.
        const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xB5");
        QTest::newRow("long texts") << "t.lnk"
                                    << header(LinkInfo | Arguments | Unicode) +
                                           linkInfo("C:\\" + QString(290, 't'), "", true) +
                                           str(QString(258, 'a') + emoji, true)
                                    << "t|C:\\" + QString(256, 't') + "||" + QString(258, 'a');
        QByteArray wrongClsid = program(true);
        wrongClsid[5] = '\x15';
        QTest::newRow("wrong class id") << "t.lnk" << wrongClsid << kept;
        QTest::newRow("string past the end")
            << "t.lnk" << header(Arguments | Unicode) + u16(200) + utf16("short") << kept;
        QTest::newRow("text named .lnk") << "t.lnk" << QByteArray("Just some notes.\n") << kept;
        QTest::newRow("text file") << "notes.txt" << QByteArray("Just some notes.\n") << kept;
        QTest::newRow("link under another suffix") << "program.bin" << program(true) << kept;

        const QByteArray head = "[Desktop Entry]\nType=Application\n";
        QTest::newRow("desktop entry")
            << "e.desktop" << head + "Name=Text Editor\nExec=/usr/bin/gedit --new-window %U\nPath=/home/me\n"
            << "Text Editor|/usr/bin/gedit|/home/me|--new-window";
        // Escapes (doubled once as a string value), "%%", field codes; other keys and groups.
        QTest::newRow("quoting")
            << "e.desktop"
            << "# comment\n" + head +
                   "Name[de]=Spieler\nName=Player\n"
                   "Exec=\"/opt/My Player/run\" --title=\"say \\\\\"hi\\\\\"\" %f --rate=50%% %i\n"
                   "[Desktop Action private]\nExec=/usr/bin/x\n"
            << "Player|/opt/My Player/run||\"--title=say \"\"\"hi\"\"\"\" --rate=50%";
        // \s becomes a blank before Exec is split, so there it separates arguments.
        QTest::newRow("escaped blanks")
            << "e.desktop" << head + "Name=Two\\sWords\nExec=/bin/tool a\\sb\nPath=/srv/My\\sDir\n"
            << "Two Words|/bin/tool|/srv/My Dir|a b";
        QTest::newRow("link entry")
            << "e.desktop" << QByteArray("[Desktop Entry]\nType=Link\nName=Docs\nURL=file:///usr/share/doc\n")
            << "Docs|/usr/share/doc||";
        // No Name: named after the file; a bare program name is resolved on PATH.
        QTest::newRow("entry without Name")
            << "org.example.Shell.desktop" << head + "Exec=sh -c \"echo hi\"\nPath=/tmp\n"
            << "org|" + QStandardPaths::findExecutable("sh") + "|/tmp|-c \"echo hi\"";
        QTest::newRow("only field codes") << "e.desktop" << head + "Exec=%U\n" << kept;
    }
    void shortcuts()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, record);
        QTemporaryDir dir;
        QFile out(dir.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        out.close();
        DesktopApp app;
        app.setName("Kept");
        app.setPath("/usr/bin/kept");
        app.setWorkDir("/tmp");
        app.setParam("-k");
        LogCapture log;
        app.loadShortcut(out.fileName());
        QCOMPARE(QStringList({app.name(), app.path(), app.workDir(), app.param()}).join('|'), record);
        const QStringList f = record.split('|');
        const QStringList logged = {"Name: " + f[0], "Target: " + f[1], "Working Dir: " + f[2],
                                    "Arguments: " + f[3]};
        QCOMPARE(log.messages(), record.startsWith("Kept|") ? QStringList() : logged);
    }

    void damagedLinksAreSafe()
    {
        // Every cut and many random corruptions of a link are read without a crash.
        const QByteArray good =
            program(true) + idList(drive("C:\\") + file(false, "A~1.EXE", "application.exe"));
        for (int length = 0; length < good.size(); ++length)
            parseShellLink(good.left(length));
        QRandomGenerator random(20240611);
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes = good;
            for (int flips = 1 + random.bounded(6); flips > 0; --flips)
                bytes[0x4C + random.bounded(bytes.size() - 0x4C)] = char(random.bounded(256));
            if (const auto info = parseShellLink(bytes))
                QVERIFY(info->target.size() <= 259 && info->arguments.size() <= 259);
        }
    }

    void namedPipeIsNotRead()
    {
        QTemporaryDir dir;
        const QByteArray pipe = QFile::encodeName(dir.filePath("player.desktop"));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        QVERIFY(!createShortcutReader()->read(QFile::decodeName(pipe)));
    }

    void argumentsSurviveTheLauncherSplit()
    {
        const QStringList arguments = {"plain", "two words", "say \"hi\"", "tab\there", "50%", "\"", "last"};
        QCOMPARE(QProcess::splitCommand(joinArguments(arguments)), arguments);
        QCOMPARE(splitExecLine("a  \"b c\"\t%F d%%e"), QStringList({"a", "b c", "d%e"}));
    }
};

QTEST_GUILESS_MAIN(TestShortcutReader)
#include "tst_shortcutreader.moc"
