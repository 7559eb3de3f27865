#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

// The process-wide application context: where the program and its data live, how big the
// main window starts, and the theme every view draws with.
class ApplicationBase : public QObject
{
public:
    ApplicationBase();
    ~ApplicationBase() override = default;

    virtual QString applicationDirPath() const = 0;
    virtual QString writableLocation() const = 0;
    virtual QSize defaultWindowSize() const = 0;
    virtual void setMainWindowRect(const QRect& rect) = 0;
    virtual QRect mainWindowRect() const = 0;

    QString themeRootPath() const;
    QString themeName() const { return m_themeName; }
    QString commonStyleSheet() const { return m_commonStyleSheet; }
    void setDebugMode(bool on) { m_debugMode = on; }
    bool debugMode() const { return m_debugMode; }

    static void setInstance(ApplicationBase* app);
    static ApplicationBase* instance();
    static void destroyInstance();

    // Gives `widget` the common sheet followed by the theme's `cssFileName`. Without
    // `reload`, a file name already applied once in this process is not applied again.
    static void applyStyleSheet(QWidget* widget, const QString& cssFileName, bool reload);
    static QString readTextFile(const QString& path);
    static QString ensurePath(const QString& path);
    static void debugPrint(const QString& title, const QString& message);

private:
    QString m_commonStyleSheet;
    QString m_themeName;
    bool m_debugMode = false;
};

// The main window's starting size on a work area (the primary screen minus task bars);
// without a screen, 1280 x 758.
QSize defaultWindowSizeFor(const QSize* workArea);

// Logs one line per screen, numbered from 1: its size, logical DPI and device pixel ratio.
void logScreenDetails();
