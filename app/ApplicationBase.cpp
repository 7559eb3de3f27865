#include "app/ApplicationBase.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

ApplicationBase* g_instance = nullptr;

// File name -> widget it was last applied to; only the presence of a name matters.
QHash<QString, QWidget*>& styleSheetRegistry()
{
    static QHash<QString, QWidget*> registry;
    return registry;
}

} // namespace

// Outside the anonymous namespace: the macro declares the resource initialiser, which
// lives in the global namespace.
static int registerResources()
{
    Q_INIT_RESOURCE(resources);
    return 0;
}
// Registers the compiled-in style sheets and images before main runs.
static const int g_resourcesRegistered = registerResources();

ApplicationBase::ApplicationBase()
    : QObject(nullptr)
{
    Q_UNUSED(g_resourcesRegistered)
    m_themeName = QStringLiteral("default");
    m_commonStyleSheet = readTextFile(themeRootPath() + m_themeName + QStringLiteral("/common.css"));
}

QString ApplicationBase::themeRootPath() const
{
    return QStringLiteral(":/resources/ui/theme/");
}

void ApplicationBase::setInstance(ApplicationBase* app)
{
    g_instance = app;
}

ApplicationBase* ApplicationBase::instance()
{
    return g_instance;
}

void ApplicationBase::destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

void ApplicationBase::applyStyleSheet(QWidget* widget, const QString& cssFileName, bool reload)
{
    auto& registry = styleSheetRegistry();
    if (registry.contains(cssFileName)) {
        if (!reload)
            return;
        registry.remove(cssFileName);
    }
    registry.insert(cssFileName, widget);

    const ApplicationBase* app = instance();
    if (!app || !widget)
        return;
    const QString path = app->themeRootPath() + app->themeName() + QLatin1Char('/') + cssFileName;
    widget->setStyleSheet(app->commonStyleSheet() + QStringLiteral("\r\n") + readTextFile(path));
}

QString ApplicationBase::readTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    file.close();
    return QString::fromUtf8(bytes);
}

QString ApplicationBase::ensurePath(const QString& path)
{
    if (path.isEmpty() || QDir(path).exists(path))
        return path;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        // A bare name is taken relative to the working directory.
        QDir().mkpath(path);
        return path;
    }
    const QString name = path.mid(slash + 1);
    // The root "/" always exists, so the recursion ends there at the latest.
    const QString parentPath = slash == 0 ? QStringLiteral("/") : ensurePath(path.left(slash));
    if (!name.isEmpty())
        QDir(parentPath).mkpath(name);
    if (slash == 0)
        return QLatin1Char('/') + name;
    return parentPath + QLatin1Char('/') + name;
}

void ApplicationBase::debugPrint(const QString& title, const QString& message)
{
    qDebug().noquote() << QStringLiteral("**Debug** ") + title + QStringLiteral(": ") + message;
}

QSize defaultWindowSizeFor(const QSize* workArea)
{
    if (!workArea)
        return QSize(1280, 758);
    const int aw = workArea->width();
    const int ah = workArea->height();
    const int width = std::min(aw, std::max(800, std::min(1280, static_cast<int>(aw * 0.6))));
    const int height = std::min(ah, std::max(520, std::min(758, static_cast<int>(ah * 0.6))));
    return QSize(width, height);
}

void logScreenDetails()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i) {
        const QScreen* screen = screens.at(i);
        qDebug().noquote() << QStringLiteral("显示器 %1: %2x%3, DPI=%4, 缩放比例=%5")
                                  .arg(i + 1)
                                  .arg(screen->size().width())
                                  .arg(screen->size().height())
                                  .arg(screen->logicalDotsPerInch(), 0, 'g')
                                  .arg(screen->devicePixelRatio(), 0, 'g');
    }
}
