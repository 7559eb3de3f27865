#include "data/DataTestSupport.h"

#include "ui/DesktopAppView.h"
#include "ui/MediaLibraryView.h"
#include "ui/MessageBoxView.h"
#include "ui/SettingView.h"

#include <QSqlRecord>
#include <QStandardPaths>
#include <QtTest>
#include <QtWidgets>

#include <functional>

// The pages as the user drives them; each modal dialog is answered from inside its own loop.
class TestPages : public QObject
{
    Q_OBJECT

    // Calls `answer` with the next modal shown above `below`. Gives up when `below` closes or after
    // about five seconds, so that a dialog that never opens leaves no timer to answer a later one.
    static void answerNextModal(std::function<void(QWidget*)> answer, QWidget* below = nullptr)
    {
        auto* timer = new QTimer;
        QPointer<QWidget> guard(below);
        connect(timer, &QTimer::timeout, [=, ticks = 0]() mutable {
            QWidget* modal = QApplication::activeModalWidget();
            const bool ready = modal && modal->isVisible() && modal != below && (guard || !below);
            if (!ready && (guard || !below) && ++ticks < 500)
                return;
            timer->deleteLater();
            timer->stop();
            if (ready)
                answer(modal);
        });
        timer->start(10);
    }
    static QPushButton* button(QWidget* w, const char* name) { return w->findChild<QPushButton*>(name); }
    // Presses `buttonName` in the next modal above `below`, after adding its message to `seen`.
    static void press(const char* buttonName, QStringList* seen = nullptr, QWidget* below = nullptr)
    {
        answerNextModal(
            [=](QWidget* box) {
                if (seen)
                    *seen << box->findChild<QLabel*>("lbMessageBoxContent")->text();
                button(box, buttonName)->click();
            },
            below);
    }
    // Presses Save and answers the box that refuses it: "message@field with the focus".
    static QString refusedSave(QWidget* dialog)
    {
        QStringList seen;
        press("btnSure", &seen, dialog);
        button(dialog, "btnSure")->click();
        return seen.value(0) + '@' + dialog->focusWidget()->objectName();
    }
    // Sets the path fields of an editor or page to `texts`, as far as it has them; returns their texts.
    static QStringList fields(QWidget* dialog, const QStringList& texts = {})
    {
        QStringList out;
        for (const char* name :
             {"edName", "edPath", "edWorkDir", "edParam", "edAudioPlayerPath", "edVideoPlayerPath"}) {
            if (auto* edit = dialog->findChild<QLineEdit*>(name)) {
                if (out.size() < texts.size())
                    edit->setText(texts.at(out.size()));
                out << edit->text();
            }
        }
        return out;
    }
    // Presses `selectButton`; answers its file chooser with `path`, or cancels when that is empty.
    static void choose(const QString& path, QWidget* owner, const char* selectButton = "btnSelect")
    {
        answerNextModal(
            [path](QWidget* modal) {
                auto* chooser = qobject_cast<QFileDialog*>(modal);
                if (path.isEmpty())
                    return chooser->reject();
                // A row the dialog selects while listing folders would win over the typed name.
                chooser->selectFile(path);
                for (QAbstractItemView* view : chooser->findChildren<QAbstractItemView*>())
                    if (view->selectionModel())
                        view->selectionModel()->clearSelection();
                chooser->findChild<QLineEdit*>("fileNameEdit")->setText(path);
                static_cast<QDialog*>(chooser)->accept(); // public in the base; checks the file exists
            },
            qobject_cast<QDialog*>(owner));
        button(owner, selectButton)->click();
    }
    static QStringList rows(const QString& sql, int database = SqlDatabase::Data)
    {
        QStringList out;
        QSqlQuery query(SqlDatabase::database(database));
        if (!query.exec(sql))
            return {"failed: " + sql};
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << query.value(i).toString();
            out << fields.join('|');
        }
        return out;
    }
    static QTreeWidget* tree(QWidget* page) { return page->findChild<QTreeWidget*>("treeWidget"); }
    // The rows of a list page as "name|path"; selects the row `select`.
    static QStringList treeRows(QWidget* page, int select = -1)
    {
        QStringList out;
        for (int i = 0; i < tree(page)->topLevelItemCount(); ++i) {
            out << tree(page)->topLevelItem(i)->text(0) + '|' + tree(page)->topLevelItem(i)->text(1);
            tree(page)->topLevelItem(i)->setSelected(i == select);
        }
        return out;
    }
    static QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes,
                             bool program = false)
    {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) && program)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return file.fileName();
    }

    std::unique_ptr<TestContext> m_context;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_context = std::make_unique<TestContext>();
        QVERIFY(startDatabases());
        ConfigService::instance()->load();
    }
    void init()
    {
        QVERIFY(execOn(SqlDatabase::Data, "delete from MediaFolder"));
        QVERIFY(execOn(SqlDatabase::Data, "delete from DesktopApp"));
    }

    void messageBox()
    {
        // Only Sure answers yes; Cancel, the hidden head's close button, Escape and closing say no.
        // A notice has no Cancel.
        QStringList seen;
        const auto answer = [&seen](std::function<void(QWidget*)> act) {
            answerNextModal([&seen, act](QWidget* box) {
                for (const char* name : {"btnSure", "btnCancel"})
                    seen << (button(box, name)->isVisible() ? button(box, name)->text() : "-");
                act(box);
            });
        };
        answer([](QWidget* box) { button(box, "btnSure")->click(); });
        seen << QString::number(MessageBoxView::question("Delete it?", "Remove"));
        answer([](QWidget* box) { button(box, "btnCancel")->click(); });
        seen << QString::number(MessageBoxView::question("Delete it?"));
        answer([](QWidget* box) { button(box, "btnClose")->click(); });
        seen << QString::number(MessageBoxView::question("Delete it?"));
        answer([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        seen << QString::number(MessageBoxView::question("Delete it?"));
        answer([](QWidget* box) { box->close(); });
        seen << QString::number(MessageBoxView::question("Delete it?"));
        answer([](QWidget* box) { button(box, "btnSure")->click(); });
        MessageBoxView::information("Saved.");
        QCOMPARE(seen.join(' '),
                 "Remove Cancel 1 Sure Cancel 0 Sure Cancel 0 Sure Cancel 0 Sure Cancel 0 Sure -");
    }

    void mediaFolders()
    {
        QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values "
                                          "('Early','/e',1),('Late','/l',10000),('Same','/s',9999)"));
        MediaLibraryView page;
        page.load(nullptr);
        QStringList seen;
        answerNextModal([&](QWidget* dialog) {
            seen << dialog->windowTitle() << refusedSave(dialog);
            fields(dialog, {"typed"});
            seen << refusedSave(dialog);
            fields(dialog, {"Live", "/m"});
            button(dialog, "btnSure")->click();
        });
        button(&page, "btnAdd")->click();
        QCOMPARE(seen, QStringList({"Media folder add", "The name cannot be empty.@edName",
                                    "The path cannot be empty.@edPath"}));
        // New records carry 9999: after smaller numbers, after older records with 9999.
        QCOMPARE(rows("select sortNum from MediaFolder where name='Live'"), QStringList({"9999"}));
        QCOMPARE(treeRows(&page), QStringList({"Early|/e", "Same|/s", "Live|/m", "Late|/l"}));

        treeRows(&page, 1);
        answerNextModal([&](QWidget* dialog) {
            seen = QStringList(dialog->windowTitle()) + fields(dialog);
            seen += fields(dialog, {"Same2"});
            button(dialog, "btnSure")->click();
        });
        button(&page, "btnEdit")->click();
        // Double-clicking a row edits that row; Cancel changes nothing.
        treeRows(&page, 0);
        answerNextModal([&](QWidget* dialog) {
            seen += fields(dialog, {"changed"});
            button(dialog, "btnCancel")->click();
        });
        emit tree(&page)->itemDoubleClicked(tree(&page)->topLevelItem(0), 1);
        QCOMPARE(seen, QStringList({"Media folder edit", "Same", "/s", "Same2", "/s", "changed", "/e"}));
        QCOMPARE(rows("select name,sortNum from MediaFolder order by sortNum,id"),
                 QStringList({"Early|1", "Same2|9999", "Live|9999", "Late|10000"}));

        // Delete asks first.
        seen.clear();
        press("btnCancel", &seen);
        button(&page, "btnDelete")->click();
        QCOMPARE(seen, QStringList({"Are you sure you want to delete this data?"}));
        QCOMPARE(rows("select count(*) from MediaFolder"), QStringList({"4"}));
        press("btnSure");
        button(&page, "btnDelete")->click();
        QCOMPARE(rows("select name from MediaFolder order by sortNum,id"),
                 QStringList({"Same2", "Live", "Late"}));
        QCOMPARE(treeRows(&page).size(), 3);
    }

    void applyReloadsTheServices()
    {
        MediaService::instance()->load();
        AppService::instance()->load();
        MediaLibraryView media;
        DesktopAppView apps;
        for (QWidget* page : std::initializer_list<QWidget*>{&media, &apps}) {
            answerNextModal([](QWidget* dialog) {
                fields(dialog, {"Added", "/usr/bin/added", "/tmp", "-c \"echo hi\""});
                button(dialog, "btnSure")->click();
            });
            button(page, "btnAdd")->click();
        }
        QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
                 QStringList({"Added|/usr/bin/added|/tmp|-c \"echo hi\"|9999"}));
        // The phone's view changes only with "Apply", and each page applies only its own list.
        QVERIFY(MediaService::instance()->folders().isEmpty());
        button(&media, "btnApply")->click();
        QCOMPARE(MediaService::instance()->folders().size(), 1);
        QVERIFY(AppService::instance()->apps().isEmpty());
        button(&apps, "btnApply")->click();
        QCOMPARE(AppService::instance()->apps().size(), 1);
    }

    void cancelledEditKeepsTheRecord()
    {
        QTemporaryDir dir;
        const QString entry =
            writeFile(dir, "Media.Player.desktop",
                      "[Desktop Entry]\nType=Application\nExec=/opt/run --queue %F\nPath=/opt\n");
        const QString notes = writeFile(dir, "notes.txt", "not a shortcut\n");
        QVERIFY(execOn(SqlDatabase::Data, "insert into DesktopApp (name,path,workDir,param,sortNum) "
                                          "values ('Mine','/bin/mine','/w','-p',1)"));
        DesktopAppView page;
        page.load(nullptr);
        treeRows(&page, 0);
        // Files chosen in an edit that is then cancelled must leave the page's record alone.
        QStringList seen;
        answerNextModal([&](QWidget* dialog) {
            // A desktop entry without Name is named after its file; a text file changes nothing.
            choose(entry, dialog);
            choose(notes, dialog);
            seen = fields(dialog);
            button(dialog, "btnCancel")->click();
        });
        button(&page, "btnEdit")->click();
        press("btnSure");
        button(&page, "btnEdit")->click();
        QCOMPARE(seen, QStringList({"Media", "/opt/run", "/opt", "--queue"}));
        QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
                 QStringList({"Mine|/bin/mine|/w|-p|1"}));
    }

    void settings()
    {
        QTemporaryDir players;
        const QString audio = writeFile(players, "audio-player", "#!/bin/sh\n", true);
        const QString video = writeFile(players, "video-player", "#!/bin/sh\n", true);
        SettingView page;
        page.load(nullptr);
        const auto shown = [&page] {
            return fields(&page) +
                   rows("select dictName, dictValue from dict order by dictId", SqlDatabase::Config);
        };
        // Select shows and stores the choice; a cancelled chooser changes nothing.
        choose(QString(), &page, "btnSelectAudioPlayer");
        QCOMPARE(shown(), QStringList({"", ""}));
        choose(audio, &page, "btnSelectAudioPlayer");
        choose(QString(), &page, "btnSelectAudioPlayer");
        choose(video, &page, "btnSelectVideoPlayer");
        QCOMPARE(shown(), QStringList({audio, video, "audioPlayer|" + audio, "videoPlayer|" + video}));
        // Default empties only its own side.
        button(&page, "btnDefaultVideoPlayer")->click();
        const QStringList afterDefault = {audio, "", "audioPlayer|" + audio, "videoPlayer|"};
        QCOMPARE(shown(), afterDefault);
        // Typed text is never stored: the next load shows the stored values again.
        QTest::keyClicks(page.findChild<QLineEdit*>("edAudioPlayerPath"), "/typed");
        QTest::keyClicks(page.findChild<QLineEdit*>("edVideoPlayerPath"), "/typed");
        page.unload(nullptr);
        page.load(nullptr);
        QCOMPARE(shown(), afterDefault);

        // The phone may read the clipboard only once the user allows it; stored at once.
        auto* allowRead = page.findChild<QCheckBox*>("chkAllowClipboardRead");
        QVERIFY(!allowRead->isChecked());
        allowRead->click();
        QCOMPARE(shown().constLast(), QStringLiteral("clipboardRead|1"));
        // Power and session likewise: off until the user turns it on.
        auto* allowPower = page.findChild<QCheckBox*>("chkAllowPower");
        QVERIFY(!allowPower->isChecked());
        allowPower->click();
        QCOMPARE(shown().constLast(), QStringLiteral("allowPower|1"));
        SettingView again;
        again.load(nullptr);
        QVERIFY(again.findChild<QCheckBox*>("chkAllowClipboardRead")->isChecked());
        QVERIFY(again.findChild<QCheckBox*>("chkAllowPower")->isChecked());

        // Pasting what the keyboard layout lacks is on until the user turns it off.
        auto* paste = again.findChild<QCheckBox*>("chkPasteUntypeable");
        QVERIFY(paste->isChecked());
        paste->click();
        QCOMPARE(shown().constLast(), QStringLiteral("pasteUntypeable|0"));
        SettingView third;
        third.load(nullptr);
        QVERIFY(!third.findChild<QCheckBox*>("chkPasteUntypeable")->isChecked());
    }

    // Where files from the phone land: chosen, reset and stored at once, each change announced
    // so that it applies without a restart; a received file opens its own folder.
    void receiveSettings()
    {
        QTemporaryDir chosen;
        const QString fallback = QStringLiteral("/home/someone/Downloads/Velmora");
        SettingView page;
        QStringList opened;
        page.setFolderOpener([&opened](const QString& folder) { opened << folder; });
        page.setDefaultReceiveFolder(fallback);
        QSignalSpy applied(&page, &SettingView::receiveSettingsChanged);
        page.load(nullptr);
        auto* folder = page.findChild<QLineEdit*>("edReceiveFolder");
        auto* limit = page.findChild<QSpinBox*>("sbReceiveLimit");
        const auto stored = [] {
            return rows("select dictName, dictValue from dict where dictName like 'receive%' order by dictId",
                        SqlDatabase::Config);
        };
        QCOMPARE(folder->text(), fallback);
        QCOMPARE(limit->value(), 4096); // MiB: 4 GiB

        choose(QString(), &page, "btnSelectReceiveFolder");
        QCOMPARE(applied.count(), 0);
        choose(chosen.path(), &page, "btnSelectReceiveFolder");
        QCOMPARE(folder->text(), chosen.path());
        limit->setValue(10);
        QCOMPARE(stored(), QStringList({"receiveFolder|" + chosen.path(), "receiveMaxBytes|10485760"}));
        QCOMPARE(applied.count(), 2);
        button(&page, "btnDefaultReceiveFolder")->click();
        QCOMPARE(folder->text(), fallback);
        QCOMPARE(stored().constFirst(), QStringLiteral("receiveFolder|"));
        QCOMPARE(applied.count(), 3);

        page.setRecentFiles({{chosen.path() + "/photo.jpg", 2048, QDateTime::currentDateTime()}});
        auto* list = page.findChild<QTreeWidget*>("twReceivedFiles");
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("photo.jpg"));
        emit list->itemDoubleClicked(list->topLevelItem(0), 0);
        button(&page, "btnOpenReceiveFolder")->click();
        QCOMPARE(opened, QStringList({chosen.path(), fallback}));
    }
};

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
