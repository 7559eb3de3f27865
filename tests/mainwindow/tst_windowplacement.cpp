#include "ui/WindowPlacement.h"

#include <QtTest>

using namespace WindowPlacement;

class TestWindowPlacement : public QObject
{
    Q_OBJECT
private slots:
    void restoredGeometry();
    void adjustToScreens_data();
    void adjustToScreens();
    void newPrimaryScreen();
    void doublePress_data();
    void doublePress();

private:
    static QRect at(int x, int y) { return QRect(x, y, 800, 600); }
};

void TestWindowPlacement::restoredGeometry()
{
    const struct
    {
        QRect area;
        QSize preferred;
        QRect expected;
    } rows[] = {
        // Centred on the area, which need not start at the origin (a task bar, a second screen).
        {{1920, 40, 1920, 1040}, {1152, 624}, {2304, 248, 1152, 624}},
        {{0, 0, 1001, 701}, {5000, 5000}, {51, 36, 900, 630}},  // 90 % caps it; products truncated
        {{0, 0, 1920, 1080}, {100, 100}, {560, 280, 800, 520}}, // the floor of 800 x 520
        {{0, 0, 640, 480}, {1152, 624}, {0, 0, 640, 480}},      // but never beyond the area
    };
    for (const auto& row : rows)
        QCOMPARE(WindowPlacement::restoredGeometry(row.area, row.preferred), row.expected);
}

void TestWindowPlacement::adjustToScreens_data()
{
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("primaryArea"); // null: no primary screen
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QRect>("expected");
    const QRect left(0, 0, 1920, 1080);
    const QList<QRect> pair{left, QRect(1920, 0, 1280, 1024)};
    const QRect area(0, 0, 1920, 1040);

    QTest::newRow("across both stays") << pair << area << at(1500, 100) << at(1500, 100);
    QTest::newRow("past the right") << pair << area << at(2800, 100) << at(2400, 100);
    QTest::newRow("past left and top") << pair << area << at(-300, -50) << at(0, 0);
    QTest::newRow("past the bottom") << pair << area << at(100, 900) << at(100, 480);
    // Right and bottom moves come first, so left and top end on the bounds.
    QTest::newRow("larger than the screens")
        << QList<QRect>{left} << area << QRect(-100, -100, 2500, 1500) << QRect(0, 0, 2500, 1500);
    QTest::newRow("off every screen") << pair << area << at(5000, 3000) << at(560, 220);
    // The corner of the bounding rectangle that no screen covers is off-screen too.
    QTest::newRow("in the gap between screens") << QList<QRect>{left, QRect(1920, 1080, 1920, 1080)} << area
                                                << QRect(100, 1200, 1280, 800) << QRect(320, 120, 1280, 800);
    QTest::newRow("no screens") << QList<QRect>{} << area << at(5000, 3000) << at(5000, 3000);
    QTest::newRow("no primary screen") << pair << QRect() << at(5000, 3000) << at(5000, 3000);
}

void TestWindowPlacement::adjustToScreens()
{
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, primaryArea);
    QFETCH(QRect, window);
    QFETCH(QRect, expected);
    QCOMPARE(WindowPlacement::adjustToScreens(window, screens, primaryArea.isNull() ? nullptr : &primaryArea),
             expected);
}

void TestWindowPlacement::newPrimaryScreen()
{
    const QRect screen(1920, 0, 1920, 1080);
    const QRect area(1920, 0, 1920, 1040);
    const QRect onIt(2000, 100, 800, 600);
    const QRect centred(2480, 220, 800, 600);
    QCOMPARE(placeForNewPrimary(onIt, true, screen, area), onIt);
    QCOMPARE(placeForNewPrimary(QRect(100, 100, 800, 600), true, screen, area), centred);
    // A hidden window is brought over even when it overlaps the new primary screen.
    QCOMPARE(placeForNewPrimary(onIt, false, screen, area), centred);
}

void TestWindowPlacement::doublePress_data()
{
    // Presses at the given times (ms) and x positions; `pairs` marks the presses that complete
    // a double press.
    QTest::addColumn<QVector<int>>("times");
    QTest::addColumn<QVector<int>>("xs");
    QTest::addColumn<QString>("pairs");
    QTest::newRow("499 ms, 9 px") << QVector<int>{1000, 1499} << QVector<int>{200, 209} << "01";
    QTest::newRow("500 ms") << QVector<int>{1000, 1500} << QVector<int>{200, 200} << "00";
    QTest::newRow("10 px") << QVector<int>{1000, 1010} << QVector<int>{200, 210} << "00";
    QTest::newRow("same instant") << QVector<int>{1000, 1000} << QVector<int>{200, 200} << "01";
    // A clock that went back must not pair presses that lie far apart in real time.
    QTest::newRow("clock set back") << QVector<int>{90000, 1000} << QVector<int>{200, 200} << "00";
    // A pair is used up, so a third press starts anew; a late press starts the next pair.
    QTest::newRow("used up") << QVector<int>{1000, 1100, 1200, 1300, 2000, 2600, 2700} << QVector<int>(7, 5)
                             << "0101001";
}

void TestWindowPlacement::doublePress()
{
    QFETCH(QVector<int>, times);
    QFETCH(QVector<int>, xs);
    QFETCH(QString, pairs);
    DoublePressDetector detector;
    QString seen;
    for (int i = 0; i < times.size(); ++i)
        seen += detector.press(times.at(i), QPoint(xs.at(i), 20)) ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(seen, pairs);
}

QTEST_APPLESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
