#include "platform/input/InputBackendUinput.h"

#include <QTest>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QVector<InputRecord>)

// The uinput backend's event stream, read back from pipes standing in for the two devices:
// "rel"/"abs" name the device, then type:code:value per event, SYN reports as "|".
class tst_InputUinput : public QObject
{
    Q_OBJECT

    static QString drain(int fd)
    {
        QStringList out;
        input_event e{};
        while (::read(fd, &e, sizeof e) == ssize_t(sizeof e)) {
            if (e.type == EV_SYN)
                out << QStringLiteral("|");
            else
                out << QStringLiteral("%1:%2:%3").arg(e.type).arg(e.code).arg(e.value);
        }
        return out.join(QLatin1Char(' '));
    }

    // Pipes standing in for the relative and absolute devices; the backend owns the write ends.
    struct Devices
    {
        int rel[2] = {-1, -1}, abs[2] = {-1, -1};
        bool open() { return ::pipe2(rel, O_NONBLOCK) == 0 && ::pipe2(abs, O_NONBLOCK) == 0; }
        ~Devices() { ::close(rel[0]), ::close(abs[0]); }
    };

private slots:
    void events_data()
    {
        QTest::addColumn<QVector<InputRecord>>("records");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("absolute");
        using R = InputRecord;
        const auto key = [](std::uint16_t vk, bool up) {
            return R::key(vk, 0, up ? R::KeyUp : 0);
        };
        const auto text = [](const QString& s) {
            QVector<InputRecord> v;
            for (QChar c : s)
                v << R::key(0, c.unicode(), R::Unicode) << R::key(0, c.unicode(), R::Unicode | R::KeyUp);
            return v;
        };
        QTest::newRow("relative move") << QVector<R>{R::mouse(R::MouseMove, 5, -3)} << "2:0:5 2:1:-3 |"
                                       << "";
        QTest::newRow("absolute move, clamped")
            << QVector<R>{R::mouse(R::MouseMove | R::Absolute, 32767, 70000)} << ""
            << "3:0:32767 3:1:65535 |";
        QTest::newRow("click") << QVector<R>{R::mouse(R::LeftDown), R::mouse(R::LeftUp)}
                               << "1:272:1 | 1:272:0 |"
                               << "";
        QTest::newRow("wheel: notches add up, up is positive, 120ths beside them")
            << QVector<R>{R::mouse(R::Wheel, 0, 0, 60), R::mouse(R::Wheel, 0, 0, 60),
                          R::mouse(R::Wheel, 0, 0, -240)}
            << "2:11:60 | 2:8:1 2:11:60 | 2:8:-2 2:11:-240 |"
            << "";
        QTest::newRow("ctrl+c, stray release ignored")
            << QVector<R>{key(0x11, false), key(0x43, false), key(0x43, true), key(0x11, true),
                          key(0x41, true)}
            << "1:29:1 | 1:46:1 | 1:46:0 | 1:29:0 |"
            << "";
        QTest::newRow("text with shift and a line break")
            << text(QStringLiteral("aA!\r\n"))
            << "1:30:1 | 1:30:0 | 1:42:1 | 1:30:1 | 1:30:0 | 1:42:0 | "
               "1:42:1 | 1:2:1 | 1:2:0 | 1:42:0 | 1:28:1 | 1:28:0 |"
            << "";
        // The phone holds Shift while text is typed: it stays held, lifted only around a
        // character that needs it up.
        QTest::newRow("text while the phone holds shift")
            << (QVector<R>{key(0x10, false)} + text(QStringLiteral("A!a")) + QVector<R>{key(0x10, true)})
            << "1:42:1 | 1:30:1 | 1:30:0 | 1:2:1 | 1:2:0 | 1:42:0 | 1:30:1 | 1:30:0 | 1:42:1 | 1:42:0 |"
            << "";
        QTest::newRow("characters without a US key type nothing") << text(QString::fromUtf8("é世😀")) << ""
                                                                  << "";
    }
    void events()
    {
        QFETCH(QVector<InputRecord>, records);
        QFETCH(QString, relative);
        QFETCH(QString, absolute);
        Devices d;
        QVERIFY(d.open());
        InputBackendUinput backend(d.rel[1], d.abs[1]);
        backend.send(records);
        QCOMPARE(drain(d.rel[0]), relative);
        QCOMPARE(drain(d.abs[0]), absolute);
    }

    // Thirty small finger moves scroll as far as one fast one, either way: the high-resolution
    // axis by the 120ths as they came, the notch axis by the whole notches they add up to. A
    // turn the other way starts the notch count afresh.
    void slowFingerScrollAddsUpLikeFast()
    {
        using R = InputRecord;
        const std::uint32_t smooth = R::Wheel | R::WheelSmooth;
        const auto sums = [&](const QVector<R>& records) {
            Devices d;
            if (!d.open())
                return QPair<int, int>(-1, -1);
            InputBackendUinput backend(d.rel[1], d.abs[1]);
            backend.send(records);
            QPair<int, int> sum(0, 0); // notches, 120ths
            for (const QString& e : drain(d.rel[0]).split(QLatin1Char(' '))) {
                const QStringList f = e.split(QLatin1Char(':'));
                if (f.size() == 3 && f[1].toInt() == REL_WHEEL)
                    sum.first += f[2].toInt();
                else if (f.size() == 3 && f[1].toInt() == REL_WHEEL_HI_RES)
                    sum.second += f[2].toInt();
            }
            return sum;
        };
        for (const int way : {1, -1}) {
            const QVector<R> fast{R::mouse(smooth, 0, 0, way * 420), R::mouse(smooth | R::WheelEnd)};
            QVector<R> slow(30, R::mouse(smooth, 0, 0, way * 14));
            slow << R::mouse(smooth | R::WheelEnd);
            QCOMPARE(sums(slow), qMakePair(way * 3, way * 420));
            QCOMPARE(sums(fast), qMakePair(way * 3, way * 420));
        }
        QCOMPARE(
            sums({R::mouse(smooth, 0, 0, 100), R::mouse(smooth, 0, 0, -30), R::mouse(smooth, 0, 0, -90)}),
            qMakePair(-1, -20));
    }

    void releasesHeldKeysAndButtonsWhenGone()
    {
        Devices d;
        QVERIFY(d.open());
        {
            InputBackendUinput backend(d.rel[1], d.abs[1]);
            backend.send({InputRecord::key(0x10, 0, 0), InputRecord::mouse(InputRecord::RightDown)});
            QCOMPARE(drain(d.rel[0]), QStringLiteral("1:42:1 | 1:273:1 |"));
        }
        QCOMPARE(drain(d.rel[0]), QStringLiteral("1:42:0 | 1:273:0 |"));
    }
};

QTEST_GUILESS_MAIN(tst_InputUinput)
#include "tst_inputuinput.moc"
