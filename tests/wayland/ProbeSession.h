#pragma once

#include "remote/RemoteTestSupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <optional>

// What the desktop tests share: a phone on the real command server, and our Wayland probe
// client on the compositor, whose lines tell what really arrived.
class ProbeSession
{
public:
    ~ProbeSession()
    {
        if (m_probe.state() != QProcess::NotRunning) {
            m_probe.kill();
            m_probe.waitForFinished();
        }
    }

    // The headless desktop's monitors, left to right and top-aligned, as the step that started
    // it tells (VELMORA_TEST_MONITORS, "1280x720 1024x768"); one of 1280x720 without.
    static QVector<QRect> monitors()
    {
        QVector<QRect> screens;
        int x = 0;
        for (const QString& size : qEnvironmentVariable("VELMORA_TEST_MONITORS", QStringLiteral("1280x720"))
                                       .split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList wh = size.split(QLatin1Char('x'));
            screens << QRect(x, 0, wh.value(0).toInt(), wh.value(1).toInt());
            x += screens.constLast().width();
        }
        return screens;
    }

    // Starts the probe (fullscreen on the monitor at `at` where there are several) and waits
    // for its surface. `options`: more of the probe's options.
    bool startProbe(const QPoint& at = QPoint(), const QStringList& options = QStringList())
    {
        QObject::connect(&m_probe, &QProcess::readyReadStandardOutput, &m_probe, [this] {
            while (m_probe.canReadLine())
                m_events << QString::fromUtf8(m_probe.readLine()).trimmed();
        });
        m_probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_probe.start(QStringLiteral(WAYLAND_PROBE),
                      (monitors().size() > 1 ? QStringList{QStringLiteral("--at"),
                                                           QStringLiteral("%1,%2").arg(at.x()).arg(at.y())}
                                             : QStringList()) +
                          options);
        return m_probe.waitForStarted() &&
               QTest::qWaitFor([this] { return !m_events.filter(QStringLiteral("ready")).isEmpty(); }, 10000);
    }

    void send(const QByteArray& message) { (m_via != nullptr ? *m_via : m_phone).send(message + '\n'); }
    static QByteArray absolute(int x, int y)
    {
        return R"({"command":"mousemove","params":{"absolute":true,"dx":)" + QByteArray::number(x) +
               ",\"dy\":" + QByteArray::number(y) + "}}";
    }
    static QByteArray text(const QString& text)
    {
        return R"({"command":"keyinput","params":)" +
               QJsonDocument(QJsonObject{{"text", text}}).toJson(QJsonDocument::Compact) + "}";
    }

    // The pointer cases every desktop must pass: messages, and the probe lines they must bring.
    // `wheelNotch`: what one notch brings there.
    static void addPointerRows(const QString& wheelNotch = QStringLiteral("discrete 0 -1"))
    {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("absolute") << QByteArrayList{absolute(100, 200)} << QStringList{"motion 100 200"};
        QTest::newRow("relative") << QByteArrayList{absolute(300, 300),
                                                    R"({"command":"mousemove","params":{"dx":25,"dy":-7}})"}
                                  << QStringList{"motion 300 300", "motion 325 293"};
        QTest::newRow("click") << QByteArrayList{R"({"command":"mouseclick"})"}
                               << QStringList{"button 272 1", "button 272 0"};
        QTest::newRow("double click")
            << QByteArrayList{R"({"command":"mouseclick","params":{"double":true}})"}
            << QStringList{"button 272 1", "button 272 0", "button 272 1", "button 272 0"};
        // One notch away from the user: up.
        QTest::newRow("wheel notch") << QByteArrayList{R"({"command":"mousewheel","params":{"amount":1}})"}
                                     << QStringList{wheelNotch};
    }

    // Key combinations: virtual keys the phone presses together, and the keys that arrive with
    // the modifiers then held.
    static void addKeyRows()
    {
        QTest::addColumn<QByteArray>("keycodes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ctrl+c") << QByteArray("[17,67]")
                                << "key Control_L 1 0 | key c 1 4 | key c 0 4 | key Control_L 0 4";
        // The phone's own Shift must not be pressed or let go a second time by the desktop.
        QTest::newRow("shift+a") << QByteArray("[16,65]")
                                 << "key Shift_L 1 0 | key A 1 1 | key A 0 1 | key Shift_L 0 1";
    }
    void checkKeys(const QByteArray& keycodes, const QString& expected)
    {
        m_events.clear();
        send(R"({"command":"keyinput","params":{"keycodes":)" + keycodes + "}}");
        QCOMPARE(collect({"key"}, int(expected.count(QLatin1Char('|'))) + 1).join(QLatin1String(" | ")),
                 expected);
    }

    // Waits until absolute moves land exactly: compositors zoom or fade a new window in, and
    // until that ends positions inside the surface come out scaled. `origin`: the probe's
    // monitor's place on the desktop.
    bool waitUntilMovesLand(const QPoint& origin = QPoint())
    {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; timer.elapsed() < 10000; ++i) {
            m_events.clear();
            send(absolute(origin.x() + 100 + i % 2, origin.y() + 100));
            const QString wanted = QStringLiteral("motion %1 100").arg(100 + i % 2);
            if (QTest::qWaitFor([&] { return m_events.contains(wanted); }, 100)) {
                m_events.clear();
                return true;
            }
        }
        return false;
    }

    // The probe's lines with one of `prefixes`, waiting until `count` came and, when given,
    // `last` among them (a move may arrive in steps, the final one later on a loaded machine),
    // or 5 s passed, and a moment longer for any that should not come.
    QStringList collect(const QStringList& prefixes, int count, const QString& last = QString())
    {
        QStringList got;
        QElapsedTimer timer;
        timer.start();
        const auto take = [&] {
            for (const QString& line : qAsConst(m_events)) {
                for (const QString& prefix : prefixes) {
                    if (line.startsWith(prefix + QLatin1Char(' '))) {
                        got << line;
                        break;
                    }
                }
            }
            m_events.clear();
        };
        while ((got.size() < count || (!last.isEmpty() && !got.contains(last))) && timer.elapsed() < 5000) {
            QTest::qWait(10);
            take();
        }
        QTest::qWait(100);
        take();
        return got;
    }

    // Sends `messages` and checks the pointer lines that come: buttons and wheel exactly,
    // moves by where the pointer ends (moves on the way, such as a push into a corner, may show).
    void checkPointer(const QByteArrayList& messages, const QStringList& expected)
    {
        m_events.clear();
        for (const QByteArray& m : messages)
            send(m);
        const auto isMove = [](const QString& l) {
            return l.startsWith(QLatin1String("motion "));
        };
        const QStringList wantedMoves = expected.filter(QStringLiteral("motion "));
        // Wheel steps come with their distance; where there are no steps, the distance counts.
        const QString wheel = expected.filter(QStringLiteral("axis ")).isEmpty() ? QStringLiteral("discrete")
                                                                                 : QStringLiteral("axis");
        const QStringList got = collect({"motion", "button", wheel}, expected.size(),
                                        wantedMoves.isEmpty() ? QString() : wantedMoves.constLast());
        QStringList moves = got.filter(QStringLiteral("motion "));
        QStringList rest = got;
        rest.erase(std::remove_if(rest.begin(), rest.end(), isMove), rest.end());
        QStringList wantedRest = expected;
        wantedRest.erase(std::remove_if(wantedRest.begin(), wantedRest.end(), isMove), wantedRest.end());
        QCOMPARE(rest.join(QLatin1String(" | ")), wantedRest.join(QLatin1String(" | ")));
        for (const QString& move : wantedMoves)
            QVERIFY2(moves.contains(move), qPrintable(moves.join(QLatin1String(" | "))));
        if (!wantedMoves.isEmpty())
            QCOMPARE(moves.constLast(), wantedMoves.constLast());
    }

    // Sends `messages` and returns the vertical distance the probe's axis lines add up to, once
    // they reached `expected` (when given) or have been quiet for a second, and a moment more
    // for any that should not come. A busy compositor may pause between the lines of a scroll.
    double scroll(const QByteArrayList& messages, std::optional<double> expected = std::nullopt)
    {
        m_events.clear();
        for (const QByteArray& m : messages)
            send(m);
        double distance = 0;
        QElapsedTimer timer, quiet;
        timer.start();
        quiet.start();
        bool any = false;
        const auto done = [&] {
            if (expected)
                return std::abs(distance - *expected) < 0.01 && quiet.elapsed() > 300;
            return any && quiet.elapsed() > 1000;
        };
        while (timer.elapsed() < 10000 && !done()) {
            QTest::qWait(10);
            for (const QString& line : qAsConst(m_events)) {
                if (line.startsWith(QLatin1String("axis 0 "))) {
                    distance += line.mid(7).toDouble();
                    any = true;
                    quiet.restart();
                }
            }
            m_events.clear();
        }
        return distance;
    }
    static QByteArray wheel(const char* params)
    {
        return QByteArray(R"({"command":"mousewheel","params":)") + params + "}";
    }

    // Fine two-finger steps go as far as the whole notches they make, either way. The fingers'
    // lift is passed on as the end of the scroll, but neither Mutter 43 (directly or through
    // GNOME's portal) nor KWin 5.27's portal gives the client an axis stop for it (tried on
    // Mutter with every source flag, with and without a distance): none is waited for.
    void checkSmoothScroll()
    {
        for (const int sign : {1, -1}) {
            const double notches = scroll({wheel(sign > 0 ? R"({"amount":2})" : R"({"amount":-2})")});
            QVERIFY2(notches != 0, "whole notches brought no scroll");
            // Two notches in eight steps of a quarter notch, then the lift.
            QByteArrayList fine;
            for (int i = 0; i < 8; ++i)
                fine << wheel(sign > 0 ? R"({"fine":30})" : R"({"fine":-30})");
            fine << wheel(R"({"end":true})");
            const double fingers = scroll(fine, notches);
            QVERIFY2(std::abs(fingers - notches) < 0.01,
                     qPrintable(QStringLiteral("%1 notches scrolled %2, fingers %3")
                                    .arg(2 * sign)
                                    .arg(notches)
                                    .arg(fingers)));
            // Up is negative on the axis.
            QVERIFY2(sign > 0 ? notches < 0 : notches > 0, qPrintable(QString::number(notches)));
        }
    }

    // The text the probe's key presses typed since the last clear.
    QString typed() const
    {
        QByteArray bytes;
        for (const QString& line : m_events) {
            if (line.startsWith(QLatin1String("text ")))
                bytes += QByteArray::fromHex(line.mid(5).toLatin1());
        }
        return QString::fromUtf8(bytes);
    }

    Phone m_phone;
    // Another session's phone, where this one only watches a second monitor.
    Phone* m_via = nullptr;
    QProcess m_probe;
    QStringList m_events;
};
