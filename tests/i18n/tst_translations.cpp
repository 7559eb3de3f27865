#include "app/Translations.h"
#include "ui/MainWindow.h"
#include "ui/tools/ScratchContext.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

class TestTranslations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_context.open()); }
    void chooseLanguage_data();
    void chooseLanguage();
    void windowSpeaksTheLanguage_data();
    void windowSpeaksTheLanguage();

private:
    ScratchContext m_context{QSize(1152, 624)};
};

void TestTranslations::chooseLanguage_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QString>("language");

    QTest::newRow("Simplified Chinese") << QStringList{"zh-CN", "zh-Hans-CN", "zh"} << "zh_CN";
    QTest::newRow("Chinese without a country") << QStringList{"zh"} << "zh_CN";
    QTest::newRow("Singapore writes Simplified") << QStringList{"zh-SG"} << "zh_CN";
    QTest::newRow("Traditional Chinese is neither") << QStringList{"zh-TW", "zh-Hant-TW"} << "";
    QTest::newRow("Hong Kong, then English") << QStringList{"zh-HK", "en-GB"} << "en";
    QTest::newRow("American English") << QStringList{"en-US", "en"} << "en";
    QTest::newRow("a later preference counts") << QStringList{"de-DE", "de", "zh-CN"} << "zh_CN";
    QTest::newRow("the first supported one wins") << QStringList{"fr", "en", "zh"} << "en";
    QTest::newRow("German only") << QStringList{"de-DE", "de"} << "";
    QTest::newRow("the C locale") << QStringList{"C"} << "";
    QTest::newRow("nothing") << QStringList{} << "";
}

void TestTranslations::chooseLanguage()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(QString, language);
    QCOMPARE(Translations::chooseLanguage(uiLanguages), language);
}

void TestTranslations::windowSpeaksTheLanguage_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QStringList>("navigation"); // the three page buttons
    QTest::addColumn<QStringList>("tray");       // menu entries, then the tool tip
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("serverState"); // the window-mode header's, as the tray balloon says it
    QTest::addColumn<QString>("addButton");   // on the media library page
    QTest::addColumn<QString>("qtCancel");    // Qt's own text, as its standard dialogs use it

    // In neither language the texts stay exactly as the program writes them, Chinese and English.
    QTest::newRow("C") << QStringList{"C"} << QStringList{"Media Library", "Desktop App", "Setting"}
                       << QStringList{"显示", "发送文件到手机…", "退出", "维莫拉"} << "服务器状态: 运行中"
                       << "服务器正在运行中"
                       << "Add"
                       << "Cancel";
    QTest::newRow("zh_CN") << QStringList{"zh-CN"} << QStringList{"媒体库", "桌面应用", "设置"}
                           << QStringList{"显示", "发送文件到手机…", "退出", "维莫拉"} << "服务器状态: 运行中"
                           << "服务器正在运行中"
                           << "添加"
                           << "取消";
    QTest::newRow("en_US") << QStringList{"en-US"} << QStringList{"Media Library", "Desktop App", "Setting"}
                           << QStringList{"Show", "Send Files to Phone…", "Quit", "Velmora"}
                           << "Server status: running"
                           << "The server is running"
                           << "Add"
                           << "Cancel";
}

void TestTranslations::windowSpeaksTheLanguage()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(QStringList, navigation);
    QFETCH(QStringList, tray);
    QFETCH(QString, status);
    QFETCH(QString, serverState);
    QFETCH(QString, addButton);
    QFETCH(QString, qtCancel);

    Translations translations;
    translations.install(uiLanguages);
    MainWindow window(nullptr, 0);

    QStringList pages;
    for (const char* name : {"btnNavMediaLibraryView", "btnNavDesktopAppView", "btnNavSettingView"})
        pages << window.findChild<QPushButton*>(name)->text();
    QCOMPARE(pages, navigation);

    const auto* icon = window.findChild<QSystemTrayIcon*>();
    QStringList trayTexts;
    for (const QAction* action : icon->contextMenu()->actions())
        if (!action->isSeparator())
            trayTexts << action->text();
    trayTexts << icon->toolTip();
    QCOMPARE(trayTexts, tray);

    QCOMPARE(window.findChild<QLabel*>("statusLabel")->text(), status);
    QCOMPARE(window.findChild<QLabel*>("lbServerState")->text(), serverState);
    QWidget* library = window.findChild<QWidget*>("swMediaLibraryViewItem");
    QCOMPARE(library->findChild<QPushButton*>("btnAdd")->text(), addButton);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), qtCancel);
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
