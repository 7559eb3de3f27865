#include "app/DemoApp.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

class TestApplicationContext : public QObject
{
    Q_OBJECT
private slots:
    void instanceLifecycle();
    void defaultWindowSize_data();
    void defaultWindowSize();
    void styleSheets();
    void ensurePathCreatesMissingLevels();
    void readTextFile();
};

void TestApplicationContext::instanceLifecycle()
{
    QVERIFY(DemoApp::get() == nullptr);
    auto* app = new DemoApp();
    ApplicationBase::setInstance(app);
    QCOMPARE(DemoApp::get(), app);
    QCOMPARE(app->themeName(), QStringLiteral("default"));
    QVERIFY(app->mainWindowRect().isNull());
    app->setMainWindowRect(QRect(10, 20, 300, 200));
    QCOMPARE(app->mainWindowRect(), QRect(10, 20, 300, 200));
    ApplicationBase::destroyInstance();
    QVERIFY(DemoApp::get() == nullptr);
    QVERIFY(ApplicationBase::instance() == nullptr);
}

void TestApplicationContext::defaultWindowSize_data()
{
    QTest::addColumn<QSize>("workArea");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("full hd") << QSize(1920, 1040) << QSize(1152, 624);
    QTest::newRow("large") << QSize(2560, 1400) << QSize(1280, 758);
    QTest::newRow("small") << QSize(1024, 728) << QSize(800, 520);
    // The work area bounds the size last: a narrow screen gets its own width, not 800.
    QTest::newRow("narrower than 800") << QSize(640, 480) << QSize(640, 480);
    QTest::newRow("truncated, not rounded") << QSize(1999, 1099) << QSize(1199, 659);
}

void TestApplicationContext::defaultWindowSize()
{
    QFETCH(QSize, workArea);
    QFETCH(QSize, expected);
    QCOMPARE(defaultWindowSizeFor(&workArea), expected);
    QCOMPARE(defaultWindowSizeFor(nullptr), QSize(1280, 758));
}

void TestApplicationContext::styleSheets()
{
    // Without a context the name is recorded but nothing is applied.
    QLabel orphan;
    ApplicationBase::applyStyleSheet(&orphan, QStringLiteral("settingview.css"), false);
    QVERIFY(orphan.styleSheet().isEmpty());

    ApplicationBase::setInstance(new DemoApp());
    const QString common = DemoApp::get()->commonStyleSheet();
    QVERIFY2(common.contains(QStringLiteral("#1d212b")), "the common theme sheet is compiled in");
    const QString about =
        ApplicationBase::readTextFile(QStringLiteral(":/resources/ui/theme/default/aboutview.css"));
    QVERIFY(!about.isEmpty());

    QLabel first;
    ApplicationBase::applyStyleSheet(&first, QStringLiteral("aboutview.css"), false);
    QCOMPARE(first.styleSheet(), common + QStringLiteral("\r\n") + about);

    // A name already applied without reload is not applied again, to the same or another widget.
    first.setStyleSheet(QStringLiteral("changed"));
    ApplicationBase::applyStyleSheet(&first, QStringLiteral("aboutview.css"), false);
    QCOMPARE(first.styleSheet(), QStringLiteral("changed"));
    QLabel second;
    ApplicationBase::applyStyleSheet(&second, QStringLiteral("aboutview.css"), false);
    QVERIFY(second.styleSheet().isEmpty());

    // The name recorded without a context still counts as applied.
    ApplicationBase::applyStyleSheet(&orphan, QStringLiteral("settingview.css"), false);
    QVERIFY(orphan.styleSheet().isEmpty());

    // With reload the sheet is read and applied every time.
    QLabel box;
    ApplicationBase::applyStyleSheet(&box, QStringLiteral("messageboxview.css"), true);
    const QString applied = box.styleSheet();
    QVERIFY(applied.startsWith(common + QStringLiteral("\r\n")));
    box.setStyleSheet(QString());
    ApplicationBase::applyStyleSheet(&box, QStringLiteral("messageboxview.css"), true);
    QCOMPARE(box.styleSheet(), applied);

    // A missing sheet leaves just the common one.
    QLabel missing;
    ApplicationBase::applyStyleSheet(&missing, QStringLiteral("nosuchview.css"), true);
    QCOMPARE(missing.styleSheet(), common + QStringLiteral("\r\n"));
    ApplicationBase::destroyInstance();
}

void TestApplicationContext::ensurePathCreatesMissingLevels()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(ApplicationBase::ensurePath(dir.path()), dir.path());
    const QString deep = dir.path() + QStringLiteral("/one/two");
    QCOMPARE(ApplicationBase::ensurePath(deep), deep);
    QVERIFY(QFileInfo(deep).isDir());
    QCOMPARE(ApplicationBase::ensurePath(deep), deep);
}

void TestApplicationContext::readTextFile()
{
    QTemporaryDir dir;
    QCOMPARE(ApplicationBase::readTextFile(dir.filePath(QStringLiteral("missing.txt"))), QString());
    QFile file(dir.filePath(QStringLiteral("utf8.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("维莫拉\r\nline");
    file.close();
    QCOMPARE(ApplicationBase::readTextFile(file.fileName()), QStringLiteral("维莫拉\r\nline"));
}

QTEST_MAIN(TestApplicationContext)
#include "tst_applicationcontext.moc"
