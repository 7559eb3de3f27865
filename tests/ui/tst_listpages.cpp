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

QLineEdit* field(QWidget* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
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
    void applicationFieldsAndIcon();
    void applicationFromChosenFiles();
    void cancelledEditKeepsTheRecord();

private:
    std::unique_ptr<TestContext> m_context;
};

void TestListPages::initTestCase()
{
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
    QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('Early','/e',1)"));
    QVERIFY(
        execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('Late','/l',10000)"));
    QVERIFY(
        execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('Same','/s',9999)"));
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
    QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('A','/a',5)"));
    QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('B','/b',6)"));
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
    QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('A','/a',1)"));
    QVERIFY(execOn(SqlDatabase::Data, "insert into MediaFolder (name,path,sortNum) values ('B','/b',2)"));
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
    answerNextModal([](QWidget* dialog) {
        field(dialog, "edName")->setText("Editor");
        field(dialog, "edPath")->setText("/usr/bin/editor");
        button(dialog, "btnSure")->click();
    });
    button(&apps, "btnAdd")->click();

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

void TestListPages::applicationFieldsAndIcon()
{
    DesktopAppView page;
    page.load(nullptr);
    QString title;
    answerNextModal([&title](QWidget* dialog) {
        title = dialog->windowTitle();
        field(dialog, "edName")->setText("Shell");
        field(dialog, "edPath")->setText("/bin/sh");
        field(dialog, "edWorkDir")->setText("/tmp");
        field(dialog, "edParam")->setText("-c \"echo hi\"");
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnAdd")->click();
    QCOMPARE(title, QStringLiteral("Desktop app add"));
    QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
             QStringList({"Shell|/bin/sh|/tmp|-c \"echo hi\"|9999"}));

    auto* tree = page.findChild<QTreeWidget*>("treeWidget");
    QVERIFY(!tree->topLevelItem(0)->icon(0).isNull());
    QVERIFY(tree->topLevelItem(0)->icon(1).isNull());

    // Modify shows the typed working directory and parameters again.
    selectRow(&page, 0);
    QStringList shown;
    answerNextModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        for (const char* name : {"edName", "edPath", "edWorkDir", "edParam"})
            shown << field(dialog, name)->text();
        button(dialog, "btnCancel")->click();
    });
    button(&page, "btnEdit")->click();
    QCOMPARE(title, QStringLiteral("Desktop app edit"));
    QCOMPARE(shown, QStringList({"Shell", "/bin/sh", "/tmp", "-c \"echo hi\""}));
}

void TestListPages::applicationFromChosenFiles()
{
    QTemporaryDir dir;
    QFile entry(dir.filePath("Media.Player.desktop"));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nExec=/opt/player/run --queue %F\nPath=/opt/player\n");
    entry.close();
    QFile program(dir.filePath("tool.run"));
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write("#!/bin/sh\n");
    program.close();
    program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
    QFile notes(dir.filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a shortcut\n");
    notes.close();

    DesktopAppView page;
    page.load(nullptr);
    QStringList afterEntry, afterProgram, afterNotes;
    QString refusal;
    auto texts = [](QWidget* dialog) {
        QStringList out;
        for (const char* name : {"edName", "edPath", "edWorkDir", "edParam"})
            out << field(dialog, name)->text();
        return out;
    };
    answerNextModal([&](QWidget* dialog) {
        // An executable fills path and working directory and keeps the (empty) name.
        chooseFile(program.fileName(), dialog);
        button(dialog, "btnSelect")->click();
        afterProgram = texts(dialog);
        refusal = saveExpectingRefusal(dialog);
        // A desktop entry without Name is named after its file, up to the first dot.
        chooseFile(entry.fileName(), dialog);
        button(dialog, "btnSelect")->click();
        afterEntry = texts(dialog);
        // A file that is no shortcut leaves the fields as they are; so does cancelling.
        field(dialog, "edName")->setText("Typed");
        chooseFile(notes.fileName(), dialog);
        button(dialog, "btnSelect")->click();
        chooseFile(QString(), dialog);
        button(dialog, "btnSelect")->click();
        afterNotes = texts(dialog);
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnAdd")->click();

    QCOMPARE(afterProgram, QStringList({"", program.fileName(), dir.path(), ""}));
    QCOMPARE(refusal, QStringLiteral("The name cannot be empty."));
    QCOMPARE(afterEntry, QStringList({"Media", "/opt/player/run", "/opt/player", "--queue"}));
    QCOMPARE(afterNotes, QStringList({"Typed", "/opt/player/run", "/opt/player", "--queue"}));
    QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
             QStringList({"Typed|/opt/player/run|/opt/player|--queue|9999"}));
}

void TestListPages::cancelledEditKeepsTheRecord()
{
    QTemporaryDir dir;
    QFile entry(dir.filePath("Other.desktop"));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n");
    entry.close();
    QVERIFY(execOn(
        SqlDatabase::Data,
        "insert into DesktopApp (name,path,workDir,param,sortNum) values ('Mine','/bin/mine','/w','-p',1)"));
    DesktopAppView page;
    page.load(nullptr);
    selectRow(&page, 0);

    // Choosing a shortcut while modifying, then cancelling, must not leave the shortcut's
    // values in the page's record for the next edit to save.
    answerNextModal([&](QWidget* dialog) {
        chooseFile(entry.fileName(), dialog);
        button(dialog, "btnSelect")->click();
        QCOMPARE(field(dialog, "edName")->text(), QStringLiteral("Other"));
        button(dialog, "btnCancel")->click();
    });
    button(&page, "btnEdit")->click();
    QStringList shown;
    answerNextModal([&](QWidget* dialog) {
        for (const char* name : {"edName", "edPath", "edWorkDir", "edParam"})
            shown << field(dialog, name)->text();
        button(dialog, "btnSure")->click();
    });
    button(&page, "btnEdit")->click();
    QCOMPARE(shown, QStringList({"Mine", "/bin/mine", "/w", "-p"}));
    QCOMPARE(rows("select name,path,workDir,param,sortNum from DesktopApp"),
             QStringList({"Mine|/bin/mine|/w|-p|1"}));
}

QTEST_MAIN(TestListPages)
#include "tst_listpages.moc"
