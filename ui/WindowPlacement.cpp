#include "ui/WindowPlacement.h"

#include <algorithm>

namespace WindowPlacement {

QRect restoredGeometry(const QRect& availableArea, const QSize& preferredSize)
{
    const int aw = availableArea.width();
    const int ah = availableArea.height();
    // The products are truncated toward zero, as an int conversion does.
    const int width =
        std::min(std::max(std::min(static_cast<int>(aw * 0.9), preferredSize.width()), 800), aw);
    const int height =
        std::min(std::max(std::min(static_cast<int>(ah * 0.9), preferredSize.height()), 520), ah);
    return centredIn(QRect(0, 0, width, height), availableArea);
}

QRect centredIn(const QRect& rect, const QRect& area)
{
    QRect result = rect;
    result.moveCenter(area.center());
    return result;
}

QRect adjustToScreens(const QRect& rect, const QList<QRect>& screens, const QRect* primaryArea)
{
    if (screens.isEmpty())
        return rect;

    QRect bounds;
    bool onAScreen = false;
    for (const QRect& screen : screens) {
        bounds = bounds.united(screen);
        onAScreen = onAScreen || screen.intersects(rect);
    }

    QRect result = rect;
    // Overlapping the bounding rectangle is not enough: with screens of different sizes or
    // offset from each other, parts of it lie on no screen, and a window there would be lost.
    if (onAScreen) {
        if (result.right() > bounds.right())
            result.moveRight(bounds.right());
        if (result.left() < bounds.left())
            result.moveLeft(bounds.left());
        if (result.bottom() > bounds.bottom())
            result.moveBottom(bounds.bottom());
        if (result.top() < bounds.top())
            result.moveTop(bounds.top());
    } else if (primaryArea) {
        result = centredIn(result, *primaryArea);
    }
    return result;
}

QRect placeForNewPrimary(const QRect& rect, bool visible, const QRect& screenGeometry,
                         const QRect& screenArea)
{
    if (visible && screenGeometry.intersects(rect))
        return rect;
    return centredIn(rect, screenArea);
}

bool DoublePressDetector::press(qint64 timeMs, const QPoint& position)
{
    const qint64 elapsed = timeMs - m_lastTimeMs;
    if (m_hasLastPress && elapsed >= 0 && elapsed < IntervalMs &&
        (position - m_lastPosition).manhattanLength() < Distance) {
        m_hasLastPress = false;
        return true;
    }
    m_hasLastPress = true;
    m_lastTimeMs = timeMs;
    m_lastPosition = position;
    return false;
}

} // namespace WindowPlacement
