#include "ModalAnswer.h"
#include "data/DataTestSupport.h"

#include "ui/DesktopAppView.h"
#include "ui/MediaLibraryView.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QtTest>

namespace {

QStringList rows(const QString& sql)
{
    QStringList out;
    QSqlQuery query(SqlDatabase::database(SqlDatabase::Data));
    if (!query.exec(sql))
        return {QStringLiteral("failed: ") + sql};
    while (query.next()) {
        QStringList fields;
        for (int i = 0; i < query.record().count(); ++i)
            fields << query.value(i).toString();
        out << fields.join(QLatin1Char('|'));
    }
    return out;
}

QStringList treeRows(QWidget* page)
{
    auto* tree = page->findChild<QTreeWidget*>("treeWidget");
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(0) + QLatin1Char('|') + tree->topLevelItem(i)->text(1);
    return out;
}

void selectRow(QWidget* page, int row)
{
    auto* tree = page->findChild<QTreeWidget*>("treeWidget");
    tree->clearSelection();
    tree->topLevelItem(row)->setSelected(true);
}

QString messageOf(QWidget* box)
{
    return box->findChild<QLabel*>("lbMessageBoxContent")->text();
}

// Presses the dialog's Save, answers the information box that refuses it and returns its
// text; empty when no box came.
QString saveExpectingRefusal(QWidget* dialog)
{
    QString message;
    answerNextModal(
        [&message](QWidget* box) {
            message = messageOf(box);
            button(box, "btnSure")->click();
        },
        dialog);
    button(dialog, "btnSure")->click();
    return message;
}

void insertFolder(const char* name, const char* path, int sortNum)
{
    QSqlQuery query(SqlDatabase::database(SqlDatabase::Data));
    query.prepare("insert into MediaFolder (name,path,sortNum) values (?,?,?)");
    query.addBindValue(QString::fromUtf8(name));
    query.addBindValue(QString::fromUtf8(path));
    query.addBindValue(sortNum);
    QVERIFY(query.exec());
}

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes,
                  bool executable = false)
{
    QFile file(dir.filePath(QString::fromUtf8(name)));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return file.fileName();
}

} // namespace

class TestListPages : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void emptyListAndNothingSelected();
    void addRefusesEmptyFieldsAndStoresAtTheEnd();
    void modifyDoubleClickAndCancel();
    void folderChooserFillsNameAndPath();
    void deleteAsksFirst();
    void applyReloadsTheServices();
    void applicationFromChosenFiles();
    void cancelledEditKeepsTheRecord();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestListPages::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_context = std::make_unique<TestContext>();
    QVERIFY(startDatabases());
}

void TestListPages::init()
{
    QVERIFY(execOn(SqlDatabase::Data, "delete from MediaFolder"));
    QVERIFY(execOn(SqlDatabase::Data, "delete from DesktopApp"));
}

void TestListPages::emptyListAndNothingSelected()
{
    MediaLibraryView page;
    page.load(nullptr);
    auto* tree = page.findChild<QTreeWidget*>("treeWidget");
    QCOMPARE(tree->topLevelItemCount(), 0);
    QCOMPARE(tree->headerItem()->text(0), QStringLiteral("Name"));
    QCOMPARE(tree->headerItem()->text(1), QStringLiteral("Path"));
    QCOMPARE(tree->columnWidth(0), 360);

    for (const char* action : {"btnEdit", "btnDelete"}) {
        QString message;
        answerNextModal([&message](QWidget* box) {
            message = messageOf(box);
            QVERIFY(!button(box, "btnCancel")->isVisible());
            button(box, "btnSure")->click();
        });
        button(&page, action)->click();
        QCOMPARE(message, QStringLiteral("Please select a data item before selecting this operation."));
    }
}

void TestListPages::addRefusesEmptyFieldsAndStoresAtTheEnd()
{
    insertFolder("Early", "/e", 1);
    insertFolder("Late", "/l", 10000);
    insertFolder("Same", "/s", 9999);
    MediaLibraryView page;
    page.load(nullptr);

    QString title, nameMessage, pathMessage;
    bool nameFocused = false, pathFocused = false;
    answerNextModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        nameMessage = saveExpectingRefusal(dialog);
        nameFocused = dialog->focusWidget() == field(dialog, "edName");
        field(dialog, "edName")->setText("Music");
        pathMessage = saveExpectingRefusal(dialog);
        pathFocused = dialog->focusWidget() == field(dialog, "edPath");
        // Only an empty text is refused; blanks are a name.
        field(dialog, "edPath")->setText("/home/me/Music");
        field(dialog, "edName")->setText(" ");
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnAdd")->click();

    QCOMPARE(title, QStringLiteral("Media folder add"));
    QCOMPARE(nameMessage, QStringLiteral("The name cannot be empty."));
    QCOMPARE(pathMessage, QStringLiteral("The path cannot be empty."));
    QVERIFY(nameFocused);
    QVERIFY(pathFocused);
    QCOMPARE(rows("select name,path,sortNum from MediaFolder where path='/home/me/Music'"),
             QStringList({" |/home/me/Music|9999"}));
    // New records carry 9999: after smaller numbers, after older records with 9999.
    QCOMPARE(treeRows(&page), QStringList({"Early|/e", "Same|/s", " |/home/me/Music", "Late|/l"}));

    // A cancelled add stores nothing.
    answerNextModal([](QWidget* dialog) {
        field(dialog, "edName")->setText("Ignored");
        field(dialog, "edPath")->setText("/ignored");
        button(dialog, "btnCancel")->click();
    });
    button(&page, "btnAdd")->click();
    QCOMPARE(rows("select count(*) from MediaFolder"), QStringList({"4"}));
}

void TestListPages::modifyDoubleClickAndCancel()
{
    insertFolder("A", "/a", 5);
    insertFolder("B", "/b", 6);
    MediaLibraryView page;
    page.load(nullptr);

    selectRow(&page, 1);
    QString title, shownName, shownPath;
    answerNextModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        shownName = field(dialog, "edName")->text();
        shownPath = field(dialog, "edPath")->text();
        field(dialog, "edName")->setText("B renamed");
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnEdit")->click();
    QCOMPARE(title, QStringLiteral("Media folder edit"));
    QCOMPARE(shownName, QStringLiteral("B"));
    QCOMPARE(shownPath, QStringLiteral("/b"));
    // The sort number stays.
    QCOMPARE(rows("select name,path,sortNum from MediaFolder order by id"),
             QStringList({"A|/a|5", "B renamed|/b|6"}));
    QCOMPARE(treeRows(&page), QStringList({"A|/a", "B renamed|/b"}));

    // Double-clicking a row edits that row; Cancel changes nothing.
    auto* tree = page.findChild<QTreeWidget*>("treeWidget");
    selectRow(&page, 0);
    answerNextModal([&](QWidget* dialog) {
        shownName = field(dialog, "edName")->text();
        field(dialog, "edName")->setText("changed");
        button(dialog, "btnCancel")->click();
    });
    emit tree->itemDoubleClicked(tree->topLevelItem(0), 1);
    QCOMPARE(shownName, QStringLiteral("A"));
    QCOMPARE(rows("select name from MediaFolder order by id"), QStringList({"A", "B renamed"}));
}

void TestListPages::folderChooserFillsNameAndPath()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Music/Live.2020"));
    const QString folder = dir.filePath("Music/Live.2020");
    MediaLibraryView page;
    page.load(nullptr);
    QStringList chosen, cancelled;
    answerNextModal([&](QWidget* dialog) {
        field(dialog, "edName")->setText("typed");
        chooseFile(folder, dialog);
        button(dialog, "btnSelect")->click();
        chosen << field(dialog, "edName")->text() << field(dialog, "edPath")->text();
        chooseFile(QString(), dialog);
        button(dialog, "btnSelect")->click();
        cancelled << field(dialog, "edName")->text() << field(dialog, "edPath")->text();
        button(dialog, "btnCancel")->click();
    });
    button(&page, "btnAdd")->click();
    // The name is the last path element up to its first dot, replacing what was typed.
    QCOMPARE(chosen, QStringList({"Live", folder}));
    QCOMPARE(cancelled, chosen);
}

void TestListPages::deleteAsksFirst()
{
    insertFolder("A", "/a", 1);
    insertFolder("B", "/b", 2);
    MediaLibraryView page;
    page.load(nullptr);
    selectRow(&page, 0);

    QString question;
    answerNextModal([&question](QWidget* box) {
        question = messageOf(box);
        button(box, "btnCancel")->click();
    });
    button(&page, "btnDelete")->click();
    QCOMPARE(question, QStringLiteral("Are you sure you want to delete this data?"));
    QCOMPARE(rows("select name from MediaFolder order by id"), QStringList({"A", "B"}));

    answerNextModal([](QWidget* box) { box->close(); });
    button(&page, "btnDelete")->click();
    QCOMPARE(rows("select count(*) from MediaFolder"), QStringList({"2"}));

    clickInNextModal("btnSure");
    button(&page, "btnDelete")->click();
    QCOMPARE(rows("select name from MediaFolder"), QStringList({"B"}));
    QCOMPARE(treeRows(&page), QStringList({"B|/b"}));
}

void TestListPages::applyReloadsTheServices()
{
    MediaService::instance()->load();
    AppService::instance()->load();
    MediaLibraryView media;
    DesktopAppView apps;
    media.load(nullptr);
    apps.load(nullptr);

    answerNextModal([](QWidget* dialog) {
        field(dialog, "edName")->setText("Films");
        field(dialog, "edPath")->setText("/films");
        button(dialog, "btnSure")->click();
    });
    button(&media, "btnAdd")->click();
    QString title;
    answerNextModal([&title](QWidget* dialog) {
        title = dialog->windowTitle();
        field(dialog, "edName")->setText("Editor");
        field(dialog, "edPath")->setText("/usr/bin/editor");
        field(dialog, "edWorkDir")->setText("/tmp");
        field(dialog, "edParam")->setText("-c \"echo hi\"");
        button(dialog, "btnSure")->click();
    });
    button(&apps, "btnAdd")->click();
    QCOMPARE(title, QStringLiteral("Desktop app add"));
    QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
             QStringList({"Editor|/usr/bin/editor|/tmp|-c \"echo hi\"|9999"}));
    // Every row carries the application icon, whatever its path.
    QVERIFY(!apps.findChild<QTreeWidget*>("treeWidget")->topLevelItem(0)->icon(0).isNull());

    // The phone's view changes only with "Apply", and each page applies only its own list.
    QVERIFY(MediaService::instance()->folders().isEmpty());
    QVERIFY(AppService::instance()->apps().isEmpty());
    button(&media, "btnApply")->click();
    QCOMPARE(MediaService::instance()->folders().size(), 1);
    QCOMPARE(MediaService::instance()->folders().first()->name(), QStringLiteral("Films"));
    QVERIFY(AppService::instance()->apps().isEmpty());
    button(&apps, "btnApply")->click();
    QCOMPARE(AppService::instance()->apps().size(), 1);
    QCOMPARE(AppService::instance()->apps().first()->path(), QStringLiteral("/usr/bin/editor"));
}

void TestListPages::applicationFromChosenFiles()
{
    QTemporaryDir dir;
    const QString entry =
        writeFile(dir, "Media.Player.desktop",
                  "[Desktop Entry]\nType=Application\nExec=/opt/player/run --queue %F\nPath=/opt/player\n");
    const QString program = writeFile(dir, "tool.run", "#!/bin/sh\n", true);
    const QString notes = writeFile(dir, "notes.txt", "not a shortcut\n");

    DesktopAppView page;
    page.load(nullptr);
    QStringList afterEntry, afterProgram, afterNotes;
    QString refusal;
    auto texts = [](QWidget* dialog) {
        return fieldTexts(dialog, {"edName", "edPath", "edWorkDir", "edParam"});
    };
    answerNextModal([&](QWidget* dialog) {
        // An executable fills path and working directory and keeps the (empty) name.
        chooseFile(program, dialog);
        button(dialog, "btnSelect")->click();
        afterProgram = texts(dialog);
        refusal = saveExpectingRefusal(dialog);
        // A desktop entry without Name is named after its file, up to the first dot.
        chooseFile(entry, dialog);
        button(dialog, "btnSelect")->click();
        afterEntry = texts(dialog);
        // A file that is no shortcut leaves the fields as they are; so does cancelling.
        field(dialog, "edName")->setText("Typed");
        chooseFile(notes, dialog);
        button(dialog, "btnSelect")->click();
        chooseFile(QString(), dialog);
        button(dialog, "btnSelect")->click();
        afterNotes = texts(dialog);
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnAdd")->click();

    QCOMPARE(afterProgram, QStringList({"", program, dir.path(), ""}));
    QCOMPARE(refusal, QStringLiteral("The name cannot be empty."));
    QCOMPARE(afterEntry, QStringList({"Media", "/opt/player/run", "/opt/player", "--queue"}));
    QCOMPARE(afterNotes, QStringList({"Typed", "/opt/player/run", "/opt/player", "--queue"}));
    QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
             QStringList({"Typed|/opt/player/run|/opt/player|--queue|9999"}));
}

void TestListPages::cancelledEditKeepsTheRecord()
{
    QTemporaryDir dir;
    const QString entry = writeFile(dir, "Other.desktop",
                                    "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n");
    QVERIFY(execOn(
        SqlDatabase::Data,
        "insert into DesktopApp (name,path,workDir,param,sortNum) values ('Mine','/bin/mine','/w','-p',1)"));
    DesktopAppView page;
    page.load(nullptr);
    selectRow(&page, 0);

    // Choosing a shortcut while modifying, then cancelling, must not leave the shortcut's
    // values in the page's record for the next edit to save.
    answerNextModal([&](QWidget* dialog) {
        chooseFile(entry, dialog);
        button(dialog, "btnSelect")->click();
        QCOMPARE(field(dialog, "edName")->text(), QStringLiteral("Other"));
        button(dialog, "btnCancel")->click();
    });
    button(&page, "btnEdit")->click();
    QStringList shown;
    QString title;
    answerNextModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        shown = fieldTexts(dialog, {"edName", "edPath", "edWorkDir", "edParam"});
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnEdit")->click();
    QCOMPARE(title, QStringLiteral("Desktop app edit"));
    QCOMPARE(shown, QStringList({"Mine", "/bin/mine", "/w", "-p"}));
    QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
             QStringList({"Mine|/bin/mine|/w|-p|1"}));
}

QTEST_MAIN(TestListPages)
#include "tst_listpages.moc"
