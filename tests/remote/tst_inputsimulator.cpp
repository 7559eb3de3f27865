#include "RemoteTestSupport.h"

#include "platform/InputBackendFake.h"
#include "remote/InputSimulator.h"

#include <QTest>

#include <limits>

using R = InputRecord;

class tst_InputSimulator : public QObject
{
    Q_OBJECT

private:
    InputBackendFake* m_fake = nullptr;
    std::unique_ptr<InputSimulator> m_sim;

    static QVector<R> mouse(std::uint32_t flags, int dx = 0, int dy = 0, int data = 0)
    {
        return {R::mouse(flags, dx, dy, data)};
    }

private slots:
    void init()
    {
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_sim = std::make_unique<InputSimulator>(std::move(fake));
    }

    void leftClickSpacing()
    {
        LogCapture log;
        const qint64 t0 = m_fake->monotonicMs();
        m_sim->leftClick(); // the first click is never delayed
        QCOMPARE(m_fake->sleeps(), QVector<int>{15});
        QCOMPARE(m_fake->batches().size(), 2);
        QCOMPARE(m_fake->batches()[0].records, mouse(R::LeftDown));
        QCOMPARE(m_fake->batches()[0].at, t0);
        QCOMPARE(m_fake->batches()[1].records, mouse(R::LeftUp));
        QCOMPARE(m_fake->batches()[1].at, t0 + 15);
        QVERIFY(log.contains(QStringLiteral("执行左键单击，当前时间: ") +
                             QString::number(m_fake->wallClockMs() - 15)));

        // 100 ms after the first click's start with a 500 ms double-click time: 450 ms extra.
        m_fake->clear();
        m_fake->advance(100 - 15);
        m_sim->leftClick();
        QCOMPARE(m_fake->sleeps(), (QVector<int>{450, 15}));
        QCOMPARE(m_fake->batches()[0].at, t0 + 550);
        QVERIFY(log.contains(QStringLiteral("检测到点击间隔过短 ( 100 ms), 添加  450 ms 额外延迟")));

        // Once the spacing has passed, no pause.
        m_fake->clear();
        m_fake->advance(600);
        m_sim->leftClick();
        QCOMPARE(m_fake->sleeps(), QVector<int>{15});
    }

    void wallClockJumpsDoNotChangeSpacing()
    {
        m_sim->leftClick();
        // Set back an hour: a wall-clock interval would be hugely negative.
        m_fake->advance(100 - 15);
        m_fake->setWallClock(m_fake->wallClockMs() - 3600 * 1000);
        m_fake->clear();
        m_sim->leftClick();
        QCOMPARE(m_fake->sleeps(), (QVector<int>{450, 15}));

        // Set forward an hour: still spaced.
        m_fake->advance(100 - 15);
        m_fake->setWallClock(m_fake->wallClockMs() + 2 * 3600 * 1000);
        m_fake->clear();
        m_sim->leftClick();
        QCOMPARE(m_fake->sleeps(), (QVector<int>{450, 15}));
    }

    void doubleClick()
    {
        m_fake->setDoubleClickTime(500);
        m_sim->leftDoubleClick();
        QCOMPARE(m_fake->sleeps(), (QVector<int>{15, 350, 15}));
        QCOMPARE(m_fake->records(),
                 mouse(R::LeftDown) + mouse(R::LeftUp) + mouse(R::LeftDown) + mouse(R::LeftUp));
        QCOMPARE(m_fake->batches().size(), 4);
        // A double click leaves the single-click spacing alone.
        m_fake->clear();
        m_sim->leftClick();
        QCOMPARE(m_fake->sleeps(), QVector<int>{15});

        m_fake->clear();
        m_fake->setDoubleClickTime(333);
        m_sim->leftDoubleClick();
        QCOMPARE(m_fake->sleeps()[1], 233); // truncated, not rounded
    }

    void absoluteMoves_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("origin") << QSize(1920, 1080) << QPoint(0, 0) << QPoint(0, 0);
        QTest::newRow("far corner") << QSize(1920, 1080) << QPoint(1919, 1079) << QPoint(65535, 65535);
        QTest::newRow("truncated") << QSize(1920, 1080) << QPoint(100, 100) << QPoint(3415, 6073);
        QTest::newRow("beyond, unclamped") << QSize(1920, 1080) << QPoint(1920, -1) << QPoint(65569, -60);
        QTest::newRow("huge saturates")
            << QSize(1920, 1080) << QPoint(std::numeric_limits<int>::max(), std::numeric_limits<int>::min())
            << QPoint(std::numeric_limits<int>::max(), std::numeric_limits<int>::min());
        QTest::newRow("one pixel screen") << QSize(1, 1) << QPoint(0, 1) << QPoint(0, 65535);
    }
    void absoluteMoves()
    {
        QFETCH(QSize, screen);
        QFETCH(QPoint, pixel);
        QFETCH(QPoint, expected);
        m_fake->setPrimaryScreenSize(screen);
        m_sim->moveAbsolute(pixel.x(), pixel.y());
        QCOMPARE(m_fake->records(), mouse(R::MouseMove | R::Absolute, expected.x(), expected.y()));
    }

    void relativeMovesAndWheel()
    {
        m_sim->moveRelative(-7, 12);
        m_sim->scrollWheel(-3);
        m_sim->scrollWheel(0);
        m_sim->scrollWheel(std::numeric_limits<int>::max()); // wraps like 32-bit arithmetic
        QCOMPARE(m_fake->records(), mouse(R::MouseMove, -7, 12) + mouse(R::Wheel, 0, 0, -360) +
                                        mouse(R::Wheel, 0, 0, 0) + mouse(R::Wheel, 0, 0, -120));
        QVERIFY(m_fake->sleeps().isEmpty());
    }

    void keyCombination()
    {
        m_sim->sendKeyCombination({0x11, 0x10, 0x10043}); // only the low 16 bits count
        QVector<R> expected{R::key(0x11, 0, 0),        R::key(0x10, 0, 0),        R::key(0x43, 0, 0),
                            R::key(0x43, 0, R::KeyUp), R::key(0x10, 0, R::KeyUp), R::key(0x11, 0, R::KeyUp)};
        QCOMPARE(m_fake->records(), expected);
        QCOMPARE(m_fake->batches().size(), 6);
        m_fake->clear();
        m_sim->sendKeyCombination({});
        QVERIFY(m_fake->batches().isEmpty());
    }

    void typing()
    {
        LogCapture log;
        m_sim->typeText(QString::fromUtf8("a\n😀"));
        QCOMPARE(m_fake->batches().size(), 4);
        const std::uint16_t units[] = {u'a', u'\n', 0xD83D, 0xDE00};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(m_fake->batches()[i].records, (QVector<R>{R::key(0, units[i], R::Unicode),
                                                               R::key(0, units[i], R::Unicode | R::KeyUp)}));
            QCOMPARE(m_fake->batches()[i].at - m_fake->batches()[0].at, qint64(5 * i));
        }
        QCOMPARE(m_fake->sleeps(), (QVector<int>{5, 5, 5, 5}));
        QVERIFY(log.contains(QString::fromUtf8("输入文本(Unicode模式):  a\n😀")));

        m_fake->clear();
        log.clear();
        m_sim->typeText(QString());
        QVERIFY(m_fake->batches().isEmpty());
        QCOMPARE(log.count(QStringLiteral("输入文本(Unicode模式): ")), 1);
    }
};

QTEST_GUILESS_MAIN(tst_InputSimulator)
#include "tst_inputsimulator.moc"
