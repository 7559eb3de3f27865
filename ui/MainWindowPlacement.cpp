#include "ui/MainWindow.h"

#include "app/ApplicationBase.h"
#include "platform/process/TitleBar.h"
#include "ui/WindowPlacement.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWindow>

// Where the window sits: its saved placement, screens that come and go, dragging by the header
// and the title bar's colours.

namespace {

// One set per process, shared by every window, as the press pairing and the title-bar colouring are
// about the application, not about one window object.
WindowPlacement::DoublePressDetector g_doublePress;
bool g_titleBarConfigured = false;

// Press times come from a monotonic clock: a wall clock would pair presses across midnight or a
// clock change.
qint64 pressClockMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QSettings windowSettings()
{
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
}

} // namespace

// ---- Placement
// --------------------------------------------------------------------------

void MainWindow::restoreWindowState()
{
    QSettings settings = windowSettings();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const ApplicationBase* app = ApplicationBase::instance();
        const QSize preferred = app ? app->defaultWindowSize() : size();
        // The minimum size still applies: a smaller rectangle keeps its corner and grows.
        setGeometry(WindowPlacement::restoredGeometry(screen->availableGeometry(), preferred));
    }
    if (settings.contains(QStringLiteral("window/state")))
        restoreState(settings.value(QStringLiteral("window/state")).toByteArray(), 0);
    if (settings.value(QStringLiteral("window/maximized"), false).toBool())
        showMaximized();
}

void MainWindow::saveWindowState()
{
    QSettings settings = windowSettings();
    settings.setValue(QStringLiteral("window/geometry"), geometry());
    settings.setValue(QStringLiteral("window/state"), saveState(0));
    settings.setValue(QStringLiteral("window/maximized"), isMaximized());
}

void MainWindow::reportGeometry()
{
    if (ApplicationBase* app = ApplicationBase::instance())
        app->setMainWindowRect(geometry());
}

QRect MainWindow::adjustGeometryToScreens(const QRect& rect) const
{
    QList<QRect> screens;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (const QScreen* screen : all)
        screens.append(screen->geometry());
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect primaryArea = primary ? primary->availableGeometry() : QRect();
    return WindowPlacement::adjustToScreens(rect, screens, primary ? &primaryArea : nullptr);
}

void MainWindow::checkWindowPosition()
{
    if (!isVisible())
        return;
    const QRect current = geometry();
    const QRect adjusted = adjustGeometryToScreens(current);
    if (adjusted == current)
        return;
    qDebug() << "调整窗口位置从" << current << "到" << adjusted;
    setGeometry(adjusted);
}

void MainWindow::onScreenChanged()
{
    qDebug() << "检测到屏幕配置变化";
    m_screenCheckTimer->start();
    qDebug() << "当前显示器数量:" << QGuiApplication::screens().size();
    logScreenDetails();
}

void MainWindow::onPrimaryScreenChanged(QScreen* screen)
{
    if (!screen)
        return;
    qDebug().noquote() << "主屏幕已变化到:" << screen->name();
    const QRect target = WindowPlacement::placeForNewPrimary(geometry(), isVisible(), screen->geometry(),
                                                             screen->availableGeometry());
    if (target != geometry())
        setGeometry(target);
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        m_windowState = windowState();
        // A minimised window's geometry says nothing about where the user wants it.
        if (!(m_windowState & Qt::WindowMinimized))
            saveWindowState();
    }
    return QMainWindow::event(event);
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_isDragging = true;
        if (g_doublePress.press(pressClockMs(), event->pos())) {
            qDebug() << "检测到双击标题栏";
            if (isMaximized())
                showNormal();
            else
                showMaximized();
            m_isDragging = false;
            return;
        }
        // A Wayland compositor ignores positions a window sets; it moves one only on request.
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
            windowHandle() != nullptr && windowHandle()->startSystemMove()) {
            m_isDragging = false;
            return;
        }
    }
    m_dragOffset = event->globalPos() - pos();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (m_isDragging && !m_dragOffset.isNull()) {
        move(event->globalPos() - m_dragOffset);
        reportGeometry();
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event)
{
    Q_UNUSED(event)
    m_isDragging = false;
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (m_isFirstMove) {
        m_isFirstMove = false;
        reportGeometry();
        return;
    }
    // A burst of moves leads to one check, shortly after the last of them.
    m_screenCheckTimer->start();
    reportGeometry();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event)
{
    reportGeometry();
    if (!g_titleBarConfigured) {
        // The native window must exist before its title bar can be coloured.
        QTimer::singleShot(0, this, &MainWindow::configureDwm);
        g_titleBarConfigured = true;
    }
    QMainWindow::showEvent(event);
}

void MainWindow::configureDwm()
{
    qDebug() << "MainWindow::showEvent: Configuring DWM...";
    // The caption takes the window body's colour, "#191c23", with white text.
    colourTitleBar(this, QColor(25, 28, 35), Qt::white);
    qDebug() << "MainWindow::showEvent: DWM Configured.";
}
