#include "MediaTestSupport.h"

#include "data/FileExplorer.h"

class TestFileExplorer : public QObject
{
    Q_OBJECT

private slots:
    void listingOfMixedFolder();
    void orderAndSuffixFilter();
    void missingAndEmptyFolders();
};

void TestFileExplorer::listingOfMixedFolder()
{
    QTemporaryDir dir, elsewhere;
    const QString root = dir.path();
    for (const char* name : {"A.txt", "c.flac", ".h.mp3"})
        writeFile(root + "/" + name);
    writeFile(root + "/b.MKV", "12345");
    QVERIFY(QDir(root).mkdir("Sub"));
    QFile mkv(root + "/b.MKV");
    QVERIFY(mkv.open(QIODevice::ReadWrite));
    QVERIFY(mkv.setFileTime(QDateTime({2024, 2, 3}, {9, 5, 7}), QFileDevice::FileModificationTime));
    mkv.close();
    // Links count as what they lead to, under their own names; a dangling one is left out.
    QVERIFY(QFile::link(elsewhere.path(), root + "/Linked"));
    QVERIFY(QFile::link(root + "/c.flac", root + "/d.mp3"));
    QVERIFY(QFile::link(root + "/gone", root + "/e.mp3"));

    const QString lm = QFileInfo(root + "/c.flac").lastModified().toString("yyyy-MM-dd hh:mm:ss");
    const QByteArray expected =
        "{\"dirs\":[\"Linked\",\"Sub\"],\"files\":["
        "{\"ext\":\"MKV\",\"lm\":\"2024-02-03 09:05:07\",\"name\":\"b.MKV\",\"size\":5},"
        "{\"ext\":\"flac\",\"lm\":\"" +
        lm.toUtf8() +
        "\",\"name\":\"c.flac\",\"size\":4},"
        "{\"ext\":\"mp3\",\"lm\":\"" +
        lm.toUtf8() +
        "\",\"name\":\"d.mp3\",\"size\":4}],"
        "\"filter\":\"" +
        QByteArray(MediaExtensions::kAll) + "\",\"path\":\"" + root.toUtf8() +
        "\",\"statistics\":{\"directoryCount\":2,\"fileCount\":3}}";
    QCOMPARE(QJsonDocument(directoryListing(root)).toJson(QJsonDocument::Compact), expected);
    // A trailing separator doubles in the per-file join; sizes are still read.
    QCOMPARE(directoryListing(root + "/").value("files").toArray().at(0).toObject().value("size").toInt(), 5);
}

void TestFileExplorer::orderAndSuffixFilter()
{
    QTemporaryDir dir;
    for (const char* name : {"alpha.mp3", "Zeta.MP3", "b.tar.mp4", "noext", "c.txt"})
        writeFile(dir.path() + "/" + name);
    QVERIFY(QDir(dir.path()).mkdir("zz"));

    QStringList dirs, files;
    FileExplorer explorer;
    QVERIFY(explorer.list(dir.path(), dirs, files, "|.mp3||.MP4|"));
    QCOMPARE(dirs, QStringList{"zz"});
    QCOMPARE(files, QStringList({"Zeta.MP3", "alpha.mp3", "b.tar.mp4"})); // by code unit: Z before a
    QVERIFY(explorer.list(dir.path(), dirs, files, QString()));
    QCOMPARE(files.size(), 5);
    // A failed listing does not leave the previous names behind.
    QVERIFY(!explorer.list(dir.path() + "/missing", dirs, files, QString()));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
}

void TestFileExplorer::missingAndEmptyFolders()
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/song.mp3");
    for (const QString& path : QStringList{dir.path() + "/nowhere", dir.path() + "/song.mp3"})
        QCOMPARE(directoryListing(path), QJsonObject({{"path", path}, {"filter", MediaExtensions::kAll}}));

    QVERIFY(QDir(dir.path()).mkdir("empty"));
    const QJsonObject empty = directoryListing(dir.path() + "/empty");
    QCOMPARE(empty.value("dirs"), QJsonValue(QJsonArray()));
    QCOMPARE(empty.value("files"), QJsonValue(QJsonArray()));
    QCOMPARE(empty.value("statistics"), QJsonValue(QJsonObject({{"directoryCount", 0}, {"fileCount", 0}})));
}

QTEST_GUILESS_MAIN(TestFileExplorer)
#include "tst_fileexplorer.moc"
