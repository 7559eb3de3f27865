#include "ModalAnswer.h"
#include "data/DataTestSupport.h"

#include "ui/SettingView.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QStandardPaths>
#include <QtTest>

namespace {

QStringList dictRows()
{
    QStringList out;
    QSqlQuery query(SqlDatabase::database(SqlDatabase::Config));
    query.exec("select dictName, dictValue from dict order by dictId");
    while (query.next())
        out << query.value(0).toString() + QLatin1Char('=') + query.value(1).toString();
    return out;
}

} // namespace

class TestSettingView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void freshConfigurationIsEmpty();
    void selectStoresAndCancelKeeps();
    void defaultClearsOnlyItsSide();
    void typedTextIsNotStored();

private:
    std::unique_ptr<TestContext> m_context;
    QTemporaryDir m_players;
};

void TestSettingView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());
    ConfigService::instance()->load();
    for (const char* name : {"audio-player", "video-player"}) {
        QFile file(m_players.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
}

void TestSettingView::freshConfigurationIsEmpty()
{
    SettingView page;
    QVERIFY(field(&page, "edAudioPlayerPath")->text().isEmpty());
    page.load(nullptr);
    QVERIFY(field(&page, "edAudioPlayerPath")->text().isEmpty());
    QVERIFY(field(&page, "edVideoPlayerPath")->text().isEmpty());
    QVERIFY(dictRows().isEmpty());
}

void TestSettingView::selectStoresAndCancelKeeps()
{
    SettingView page;
    page.load(nullptr);
    const QString audio = m_players.filePath("audio-player");
    QString caption;
    bool executablesOnly = false;
    answerNextModal([&](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        caption = chooser->windowTitle();
        executablesOnly = chooser->filter().testFlag(QDir::Executable);
        chooser->reject();
    });
    button(&page, "btnSelectAudioPlayer")->click();
    QCOMPARE(caption, QStringLiteral("Select Audio Player"));
    QVERIFY(executablesOnly);
    QVERIFY(field(&page, "edAudioPlayerPath")->text().isEmpty());
    QVERIFY(dictRows().isEmpty());

    chooseFile(audio);
    button(&page, "btnSelectAudioPlayer")->click();
    QCOMPARE(field(&page, "edAudioPlayerPath")->text(), audio);
    QCOMPARE(ConfigService::instance()->value("audioPlayer", QString()), audio);
    QCOMPARE(dictRows(), QStringList({"audioPlayer=" + audio}));

    // Cancelling afterwards keeps the stored choice and the field.
    chooseFile(QString());
    button(&page, "btnSelectAudioPlayer")->click();
    QCOMPARE(field(&page, "edAudioPlayerPath")->text(), audio);
    QCOMPARE(dictRows(), QStringList({"audioPlayer=" + audio}));
}

void TestSettingView::defaultClearsOnlyItsSide()
{
    SettingView page;
    page.load(nullptr);
    const QString video = m_players.filePath("video-player");
    chooseFile(video);
    button(&page, "btnSelectVideoPlayer")->click();
    QCOMPARE(ConfigService::instance()->value("videoPlayer", QString()), video);

    const QString audioBefore = ConfigService::instance()->value("audioPlayer", QString());
    QVERIFY(!audioBefore.isEmpty());
    button(&page, "btnDefaultVideoPlayer")->click();
    QVERIFY(field(&page, "edVideoPlayerPath")->text().isEmpty());
    QCOMPARE(ConfigService::instance()->value("videoPlayer", QString()), QString());
    QCOMPARE(field(&page, "edAudioPlayerPath")->text(), audioBefore);
    QCOMPARE(dictRows(), QStringList({"audioPlayer=" + audioBefore, "videoPlayer="}));
}

void TestSettingView::typedTextIsNotStored()
{
    SettingView page;
    page.load(nullptr);
    const QString stored = field(&page, "edAudioPlayerPath")->text();
    QTest::keyClicks(field(&page, "edAudioPlayerPath"), "/typed/by/hand");
    QTest::keyClicks(field(&page, "edVideoPlayerPath"), "/typed/too");
    page.unload(nullptr);
    page.load(nullptr);
    QCOMPARE(field(&page, "edAudioPlayerPath")->text(), stored);
    QVERIFY(field(&page, "edVideoPlayerPath")->text().isEmpty());
    QVERIFY(!dictRows().join(' ').contains("typed"));
}

QTEST_MAIN(TestSettingView)
#include "tst_settingview.moc"
