#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtGlobal>

// The main window's placement arithmetic, free of widgets and screens so that every rule can
// be checked with plain rectangles.
namespace WindowPlacement {

// The geometry the window opens with on a work area: 90 % of the area, capped at the
// preferred size, at least 800 x 520 but never larger than the area, centred in it.
QRect restoredGeometry(const QRect& availableArea, const QSize& preferredSize);

// `rect` moved so that its centre is the centre of `area`; the size is kept.
QRect centredIn(const QRect& rect, const QRect& area);

// Where a window at `rect` belongs on the screens with the full geometries `screens`. A
// window that still overlaps a screen is pushed inside the screens' bounding rectangle
// (right, left, bottom, top, in that order; the size never changes); one that overlaps no
// screen is centred on `primaryArea`, the primary screen's work area (null: none). Without
// screens nothing changes.
QRect adjustToScreens(const QRect& rect, const QList<QRect>& screens, const QRect* primaryArea);

// Where the window goes when a screen with `screenGeometry` and work area `screenArea` becomes
// the primary one: a visible window that overlaps it stays; any other is centred on its work area.
QRect placeForNewPrimary(const QRect& rect, bool visible, const QRect& screenGeometry,
                         const QRect& screenArea);

// Recognises two left presses close together in time and place on the window's surface.
class DoublePressDetector final
{
public:
    static constexpr qint64 IntervalMs = 500;
    static constexpr int Distance = 10;

    // A left press at `timeMs` (a monotonic clock) and `position` (window coordinates). True
    // when it completes a double press; the pair is then used up, so a third press starts anew.
    bool press(qint64 timeMs, const QPoint& position);

private:
    bool m_hasLastPress = false;
    qint64 m_lastTimeMs = 0;
    QPoint m_lastPosition;
};

} // namespace WindowPlacement
