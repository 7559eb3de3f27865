// Renders the main window on each of its pages into PNG files for the README:
//   velmora_screenshots <output folder>
// Runs against temporary databases filled with a few sample entries and a temporary settings
// store, so it never touches the user's data. scripts/screenshots runs it on a virtual display.

#include "data/ConfigService.h"
#include "data/DesktopApp.h"
#include "data/DesktopAppDao.h"
#include "data/MediaFolder.h"
#include "data/MediaFolderDao.h"
#include "platform/network/FirewallProbeFake.h"
#include "ui/AboutView.h"
#include "ui/MainWindow.h"
#include "ui/SettingView.h"
#include "ui/tools/ScratchContext.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

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

    QFont font(QStringLiteral("Microsoft YaHei"), 9);
    font.setStyleStrategy(QFont::PreferAntialias);
    QApplication::setFont(font);

    ScratchContext context(QSize(1280, 800));
    if (!context.open())
        return 1;
    ConfigService::instance()->load();
    addSamples();

    int result = 0;
    {
        MainWindow window(nullptr, 0);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        // A user's receive folder, as start-up tells the page, rather than the scratch home's.
        window.findChild<SettingView*>()->setDefaultReceiveFolder(
            QStringLiteral("/home/user/Downloads/Velmora"));
        // The firewall as the pictures need it, not as this machine has it: first none, then ufw
        // keeping phones out, for the hint.
        auto* about = window.findChild<AboutView*>();
        auto* firewall = new FirewallProbeFake;
        about->setFirewallProbe(std::unique_ptr<FirewallProbe>(firewall));
        FirewallFacts blocking;
        blocking.ufwEnabled = true;
        blocking.ufwInputPolicy = QStringLiteral("DROP");
        blocking.ufwRulesReadable = true;
        const struct
        {
            const char* button;
            const char* file;
            bool firewallBlocks;
        } pages[] = {{"btnNavMediaLibraryView", "media-library.png", false},
                     {"btnNavDesktopAppView", "desktop-apps.png", false},
                     {"btnNavSettingView", "settings.png", false},
                     {"btnAbout", "about.png", false},
                     {"btnNavMediaLibraryView", nullptr, true},
                     {"btnAbout", "about-firewall.png", true}};
        for (const auto& page : pages) {
            firewall->setFacts(page.firewallBlocks ? blocking : FirewallFacts());
            window.findChild<QPushButton*>(QLatin1String(page.button))->click();
            if (!page.file)
                continue;
            QTest::qWait(300);
            const QString path = output + QLatin1Char('/') + QLatin1String(page.file);
            // Highest compression: the pictures live in the repository.
            if (!window.grab().toImage().save(path, "PNG", 0)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                result = 1;
            }
        }
    }
    return result;
}
