// Renders the main window on each of its pages into PNG files for the README:
//   velmora_screenshots <output folder>
// Runs against temporary databases filled with a few sample entries and a temporary settings
// store, so it never touches the user's data. scripts/screenshots runs it on a virtual display.

#include "app/ApplicationBase.h"
#include "data/ConfigService.h"
#include "data/DesktopApp.h"
#include "data/DesktopAppDao.h"
#include "data/MediaFolder.h"
#include "data/MediaFolderDao.h"
#include "data/SqlDatabase.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

class ScreenshotContext final : public ApplicationBase
{
public:
    ScreenshotContext()
    {
        QDir(m_program.path()).mkpath(QStringLiteral("Data"));
        for (const QString name : {"cfg.db", "log.db", "data.db"})
            QFile::copy(QStringLiteral(VELMORA_BUILD_DIR "/Data/") + name,
                        m_program.path() + QStringLiteral("/Data/") + name);
    }
    QString applicationDirPath() const override { return m_program.path(); }
    QString writableLocation() const override { return m_home.path(); }
    QSize defaultWindowSize() const override { return QSize(1280, 800); }
    void setMainWindowRect(const QRect&) override {}
    QRect mainWindowRect() const override { return QRect(); }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_home;
};

void addSamples()
{
    const QStringList folders[] = {
        {QStringLiteral("Music"), QStringLiteral("/home/ada/Music")},
        {QStringLiteral("Films"), QStringLiteral("/home/ada/Videos/Films")},
        {QStringLiteral("Holiday 2024"), QStringLiteral("/media/ada/photos/2024")}};
    MediaFolderDao folderStore;
    int sort = 1;
    for (const QStringList& entry : folders) {
        auto folder = std::make_shared<MediaFolder>();
        folder->setName(entry.at(0));
        folder->setPath(entry.at(1));
        folder->setSortNum(sort++);
        folderStore.insert(folder);
    }
    const QStringList apps[] = {
        {QStringLiteral("Firefox"), QStringLiteral("/usr/bin/firefox"), QString(), QString()},
        {QStringLiteral("Terminal"), QStringLiteral("/usr/bin/x-terminal-emulator"),
         QStringLiteral("/home/ada"), QString()},
        {QStringLiteral("Slides"), QStringLiteral("/usr/bin/libreoffice"), QStringLiteral("/home/ada/Talks"),
         QStringLiteral("--show talk.odp")}};
    DesktopAppDao appStore;
    sort = 1;
    for (const QStringList& entry : apps) {
        auto app = std::make_shared<DesktopApp>();
        app->setName(entry.at(0));
        app->setPath(entry.at(1));
        app->setWorkDir(entry.at(2));
        app->setParam(entry.at(3));
        app->setSortNum(sort++);
        appStore.insert(app);
    }
    ConfigService::instance()->setValue(QStringLiteral("audioPlayer"), QStringLiteral("/usr/bin/audacious"),
                                        QString());
    ConfigService::instance()->setValue(QStringLiteral("videoPlayer"), QStringLiteral("/usr/bin/vlc"),
                                        QString());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);

    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QFont font(QStringLiteral("Microsoft YaHei"), 9);
    font.setStyleStrategy(QFont::PreferAntialias);
    QApplication::setFont(font);

    ScreenshotContext context;
    ApplicationBase::setInstance(&context);
    SqlDatabase::createRegistry();
    if (!openDatabases())
        return 1;
    ConfigService::instance()->load();
    addSamples();

    int result = 0;
    {
        MainWindow window(nullptr, 0);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        const struct
        {
            const char* button;
            const char* file;
        } pages[] = {{"btnNavMediaLibraryView", "media-library.png"},
                     {"btnNavDesktopAppView", "desktop-apps.png"},
                     {"btnNavSettingView", "settings.png"},
                     {"btnAbout", "about.png"}};
        for (const auto& page : pages) {
            window.findChild<QPushButton*>(QLatin1String(page.button))->click();
            QTest::qWait(300);
            const QString path = output + QLatin1Char('/') + QLatin1String(page.file);
            // Highest compression: the pictures live in the repository.
            if (!window.grab().toImage().save(path, "PNG", 0)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                result = 1;
            }
        }
    }
    SqlDatabase::destroyRegistry();
    ApplicationBase::setInstance(nullptr);
    return result;
}
