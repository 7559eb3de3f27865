#include "ui/WindowPlacement.h"

#include <QtTest>

using namespace WindowPlacement;

class TestWindowPlacement : public QObject
{
    Q_OBJECT
private slots:
    void restoredGeometry_data();
    void restoredGeometry();
    void adjustToScreens_data();
    void adjustToScreens();
    void adjustWithoutScreensOrPrimary();
    void newPrimaryScreen();
    void doublePressNeedsTimeAndPlace_data();
    void doublePressNeedsTimeAndPlace();
    void doublePressIsUsedUp();
};

void TestWindowPlacement::restoredGeometry_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QSize>("preferred");
    QTest::addColumn<QRect>("expected");
    // The preferred size wins when it is below 90 % of the area.
    QTest::newRow("full HD") << QRect(0, 0, 1920, 1040) << QSize(1152, 624) << QRect(384, 208, 1152, 624);
    // 90 % of the area caps a large preferred size; products are truncated.
    QTest::newRow("90 percent") << QRect(0, 0, 1001, 701) << QSize(5000, 5000) << QRect(51, 36, 900, 630);
    // The floor of 800 x 520 lifts small sizes ...
    QTest::newRow("floor") << QRect(0, 0, 1920, 1080) << QSize(100, 100) << QRect(560, 280, 800, 520);
    // ... but never beyond the area itself.
    QTest::newRow("tiny area") << QRect(0, 0, 640, 480) << QSize(1152, 624) << QRect(0, 0, 640, 480);
    // Centred in an area that does not start at the origin (a task bar on the left, a second screen).
    QTest::newRow("offset area") << QRect(1920, 40, 1280, 984) << QSize(1000, 600)
                                 << QRect(2060, 232, 1000, 600);
}

void TestWindowPlacement::restoredGeometry()
{
    QFETCH(QRect, area);
    QFETCH(QSize, preferred);
    QFETCH(QRect, expected);
    QCOMPARE(WindowPlacement::restoredGeometry(area, preferred), expected);
}

void TestWindowPlacement::adjustToScreens_data()
{
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QRect>("expected");

    const QRect left(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024);
    const QList<QRect> pair{left, right};
    const QList<QRect> single{left};

    QTest::newRow("inside stays") << pair << QRect(100, 100, 800, 600) << QRect(100, 100, 800, 600);
    QTest::newRow("across both stays") << pair << QRect(1500, 100, 800, 600) << QRect(1500, 100, 800, 600);
    QTest::newRow("past the right edge") << pair << QRect(2800, 100, 800, 600) << QRect(2400, 100, 800, 600);
    QTest::newRow("past the left and top") << single << QRect(-300, -50, 800, 600) << QRect(0, 0, 800, 600);
    QTest::newRow("past the bottom") << single << QRect(100, 900, 800, 600) << QRect(100, 480, 800, 600);
    // Larger than every screen: the right/bottom moves come first, so left and top end on the bounds.
    QTest::newRow("larger than the screens")
        << single << QRect(-100, -100, 2500, 1500) << QRect(0, 0, 2500, 1500);
    // No overlap at all: centred on the primary screen's work area (1920 x 1040 below).
    QTest::newRow("off every screen") << pair << QRect(5000, 3000, 800, 600) << QRect(560, 220, 800, 600);
    // In the corner of the bounding rectangle that no screen covers: that is off-screen too.
    const QList<QRect> diagonal{left, QRect(1920, 1080, 1920, 1080)};
    QTest::newRow("in the gap between screens")
        << diagonal << QRect(100, 1200, 1280, 800) << QRect(320, 120, 1280, 800);
}

void TestWindowPlacement::adjustToScreens()
{
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, window);
    QFETCH(QRect, expected);
    const QRect primaryArea(0, 0, 1920, 1040);
    QCOMPARE(WindowPlacement::adjustToScreens(window, screens, &primaryArea), expected);
}

void TestWindowPlacement::adjustWithoutScreensOrPrimary()
{
    const QRect far(5000, 5000, 800, 600);
    const QRect primaryArea(0, 0, 1920, 1040);
    QCOMPARE(WindowPlacement::adjustToScreens(far, {}, &primaryArea), far);
    QCOMPARE(WindowPlacement::adjustToScreens(far, {QRect(0, 0, 1920, 1080)}, nullptr), far);
}

void TestWindowPlacement::newPrimaryScreen()
{
    const QRect screen(1920, 0, 1920, 1080);
    const QRect area(1920, 0, 1920, 1040);
    const QRect onIt(2000, 100, 800, 600);
    const QRect elsewhere(100, 100, 800, 600);
    const QRect centred(2480, 220, 800, 600);
    QCOMPARE(placeForNewPrimary(onIt, true, screen, area), onIt);
    QCOMPARE(placeForNewPrimary(elsewhere, true, screen, area), centred);
    // A hidden window is brought to the new primary screen even when it overlaps it.
    QCOMPARE(placeForNewPrimary(onIt, false, screen, area), centred);
}

void TestWindowPlacement::doublePressNeedsTimeAndPlace_data()
{
    QTest::addColumn<qint64>("interval");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<bool>("doublePress");
    QTest::newRow("499 ms, 9 px") << qint64(499) << QPoint(4, 5) << true;
    QTest::newRow("500 ms") << qint64(500) << QPoint(0, 0) << false;
    QTest::newRow("10 px") << qint64(10) << QPoint(-6, 4) << false;
    QTest::newRow("same instant") << qint64(0) << QPoint(0, 0) << true;
}

void TestWindowPlacement::doublePressNeedsTimeAndPlace()
{
    QFETCH(qint64, interval);
    QFETCH(QPoint, offset);
    QFETCH(bool, doublePress);
    DoublePressDetector detector;
    const QPoint first(200, 20);
    QVERIFY(!detector.press(10000, first));
    QCOMPARE(detector.press(10000 + interval, first + offset), doublePress);
}

void TestWindowPlacement::doublePressIsUsedUp()
{
    DoublePressDetector detector;
    // A third press right after a toggle starts a new pair; a late press starts the next one.
    const bool expected[] = {false, true, false, true, false, false, true};
    const qint64 times[] = {1000, 1100, 1200, 1300, 2000, 2600, 2700};
    for (int i = 0; i < 7; ++i)
        QCOMPARE(detector.press(times[i], QPoint(5, 5)), expected[i]);
}

QTEST_APPLESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
