#include "data/FileExplorer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString& path, const QByteArray& bytes = QByteArray("x"))
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(bytes);
}

QStringList keysOf(const QJsonObject& object)
{
    return object.keys();
}

} // namespace

class TestFileExplorer : public QObject
{
    Q_OBJECT

private slots:
    void mixedFolderListsOnlyVisibleMediaAndFolders();
    void missingPathOrFileGivesOnlyPathAndFilter();
    void emptyFolderGivesEmptyArraysAndZeroCounts();
    void orderIsFoldersFirstThenCaseSensitiveName();
    void modificationTimeIsZeroPaddedLocalTime();
    void linksAreListedUnderTheirOwnNames();
    void listFiltersBySuffixCaseInsensitively();
};

void TestFileExplorer::mixedFolderListsOnlyVisibleMediaAndFolders()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    writeFile(root + "/b.MKV", "12345");
    writeFile(root + "/A.txt");
    writeFile(root + "/c.flac", "abc");
    writeFile(root + "/.h.mp3");
    QVERIFY(QDir(root).mkdir("Sub"));

    const QJsonObject listing = directoryListing(root);
    QCOMPARE(keysOf(listing), QStringList({"dirs", "files", "filter", "path", "statistics"}));
    QCOMPARE(listing.value("path").toString(), root);
    QCOMPARE(listing.value("filter").toString(),
             QString(".mkv|.avi|.mp4|.mov|.mpg|.wmv|.dat|.ts|.iso|.mp3|.wav|.aac|.flac|.dts|.m4a|.cue"));
    QCOMPARE(listing.value("dirs").toArray(), QJsonArray({"Sub"}));

    const QJsonArray files = listing.value("files").toArray();
    QCOMPARE(files.size(), 2);
    const QJsonObject mkv = files.at(0).toObject();
    QCOMPARE(keysOf(mkv), QStringList({"ext", "lm", "name", "size"}));
    QCOMPARE(mkv.value("name").toString(), QString("b.MKV"));
    QCOMPARE(mkv.value("ext").toString(), QString("MKV"));
    QCOMPARE(mkv.value("size").toVariant().toLongLong(), 5LL);
    QCOMPARE(mkv.value("lm").toString(),
             QFileInfo(root + "/b.MKV").lastModified().toString("yyyy-MM-dd hh:mm:ss"));
    QCOMPARE(files.at(1).toObject().value("name").toString(), QString("c.flac"));
    QCOMPARE(files.at(1).toObject().value("size").toInt(), 3);

    const QJsonObject statistics = listing.value("statistics").toObject();
    QCOMPARE(keysOf(statistics), QStringList({"directoryCount", "fileCount"}));
    QCOMPARE(statistics.value("directoryCount"), QJsonValue(1));
    QCOMPARE(statistics.value("fileCount"), QJsonValue(2));

    // A trailing separator doubles in the per-file join; the sizes must still be read.
    const QJsonObject slashed = directoryListing(root + "/");
    QCOMPARE(slashed.value("path").toString(), root + "/");
    QCOMPARE(slashed.value("files").toArray().at(0).toObject().value("size").toInt(), 5);
}

void TestFileExplorer::missingPathOrFileGivesOnlyPathAndFilter()
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/song.mp3");
    for (const QString& path : QStringList{dir.path() + "/nowhere", dir.path() + "/song.mp3", QString()}) {
        const QJsonObject listing = directoryListing(path);
        QCOMPARE(keysOf(listing), QStringList({"filter", "path"}));
        QCOMPARE(listing.value("path").toString(), path);
    }
}

void TestFileExplorer::emptyFolderGivesEmptyArraysAndZeroCounts()
{
    QTemporaryDir dir;
    const QByteArray json = QJsonDocument(directoryListing(dir.path())).toJson(QJsonDocument::Compact);
    const QByteArray expected = "{\"dirs\":[],\"files\":[],\"filter\":\"" +
                                QByteArray(MediaExtensions::kAll) + "\",\"path\":\"" + dir.path().toUtf8() +
                                "\",\"statistics\":{\"directoryCount\":0,\"fileCount\":0}}";
    QCOMPARE(json, expected);
}

void TestFileExplorer::orderIsFoldersFirstThenCaseSensitiveName()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    writeFile(root + "/alpha.mp3");
    writeFile(root + "/Zeta.mp3");
    writeFile(root + "/Beta.mp4");
    QVERIFY(QDir(root).mkdir("zfolder"));
    QVERIFY(QDir(root).mkdir("Afolder"));

    QStringList dirs{"stale"};
    QStringList files{"stale"};
    FileExplorer explorer;
    QVERIFY(explorer.list(root, dirs, files, MediaExtensions::kAll));
    QCOMPARE(dirs, QStringList({"Afolder", "zfolder"}));
    QCOMPARE(files, QStringList({"Beta.mp4", "Zeta.mp3", "alpha.mp3"}));

    // A failed listing leaves both lists empty, not holding the previous results.
    QVERIFY(!explorer.list(root + "/missing", dirs, files, MediaExtensions::kAll));
    QVERIFY(dirs.isEmpty());
    QVERIFY(files.isEmpty());
}

void TestFileExplorer::modificationTimeIsZeroPaddedLocalTime()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/clip.ts";
    writeFile(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime(QDate(2024, 2, 3), QTime(9, 5, 7), Qt::LocalTime),
                             QFileDevice::FileModificationTime));
    file.close();

    const QJsonArray files = directoryListing(dir.path()).value("files").toArray();
    QCOMPARE(files.size(), 1);
    QCOMPARE(files.at(0).toObject().value("lm").toString(), QString("2024-02-03 09:05:07"));
}

void TestFileExplorer::linksAreListedUnderTheirOwnNames()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString root = dir.path();
    writeFile(elsewhere.path() + "/real.mp3", "1234");
    QVERIFY(QFile::link(elsewhere.path(), root + "/Linked"));
    QVERIFY(QFile::link(elsewhere.path() + "/real.mp3", root + "/alias.mp3"));
    QVERIFY(QFile::link(root + "/gone", root + "/broken.mp3"));

    const QJsonObject listing = directoryListing(root);
    QCOMPARE(listing.value("dirs").toArray(), QJsonArray({"Linked"}));
    const QJsonArray files = listing.value("files").toArray();
    QCOMPARE(files.size(), 1); // the dangling link is left out
    QCOMPARE(files.at(0).toObject().value("name").toString(), QString("alias.mp3"));
    QCOMPARE(files.at(0).toObject().value("size").toInt(), 4);
}

void TestFileExplorer::listFiltersBySuffixCaseInsensitively()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    for (const char* name : {"a.MP3", "b.tar.mp4", "noext", "c.Flac", "d.txt", "e.mp3.txt"})
        writeFile(root + "/" + name);

    FileExplorer explorer;
    QStringList dirs;
    QStringList files;
    QVERIFY(explorer.list(root, dirs, files, "|.MP3||.flac|.mp4|"));
    QCOMPARE(files, QStringList({"a.MP3", "b.tar.mp4", "c.Flac"}));

    // No filter: every file.
    QVERIFY(explorer.list(root, dirs, files, QString()));
    QCOMPARE(files.size(), 6);
}

QTEST_GUILESS_MAIN(TestFileExplorer)
#include "tst_fileexplorer.moc"
