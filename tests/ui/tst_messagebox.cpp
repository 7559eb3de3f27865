#include "ModalAnswer.h"

#include "app/DemoApp.h"
#include "ui/MessageBoxView.h"

#include <QLabel>
#include <QtTest>

class TestMessageBox : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { ApplicationBase::destroyInstance(); }
    void questionAnswers();
    void informationHasOnlySure();
    void textsAndLook();
};

void TestMessageBox::initTestCase()
{
    ApplicationBase::setInstance(new DemoApp());
}

void TestMessageBox::questionAnswers()
{
    QString content;
    answerNextModal([&content](QWidget* box) {
        content = box->findChild<QLabel*>("lbMessageBoxContent")->text();
        QVERIFY(button(box, "btnCancel")->isVisible());
        button(box, "btnSure")->click();
    });
    QCOMPARE(MessageBoxView::question("Delete it?"), true);
    QCOMPARE(content, QStringLiteral("Delete it?"));

    clickInNextModal("btnCancel");
    QCOMPARE(MessageBoxView::question("Delete it?"), false);

    answerNextModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
    QCOMPARE(MessageBoxView::question("Delete it?"), false);

    answerNextModal([](QWidget* box) { box->close(); });
    QCOMPARE(MessageBoxView::question("Delete it?"), false);

    // The close button of the hidden head bar rejects too.
    clickInNextModal("btnClose");
    QCOMPARE(MessageBoxView::question("Delete it?"), false);
}

void TestMessageBox::informationHasOnlySure()
{
    bool cancelShown = true;
    bool answered = false;
    answerNextModal([&](QWidget* box) {
        cancelShown = button(box, "btnCancel")->isVisible();
        answered = true;
        QTest::keyClick(box, Qt::Key_Escape);
    });
    MessageBoxView::information("Saved.");
    QVERIFY(answered);
    QVERIFY(!cancelShown);
}

void TestMessageBox::textsAndLook()
{
    MessageBoxView box;
    box.setMessage("Content", QString(), QString());
    QCOMPARE(button(&box, "btnSure")->text(), QStringLiteral("Sure"));
    QCOMPARE(button(&box, "btnCancel")->text(), QStringLiteral("Cancel"));
    QCOMPARE(box.findChild<QLabel*>("lbFormTitle")->text(), QStringLiteral("MessageBoxTitle"));
    box.setMessage("Content", "Remove", "Careful");
    QCOMPARE(button(&box, "btnSure")->text(), QStringLiteral("Remove"));
    QCOMPARE(box.findChild<QLabel*>("lbFormTitle")->text(), QStringLiteral("Careful"));
    box.setMessage("Other", QString(), QString());
    QCOMPARE(button(&box, "btnSure")->text(), QStringLiteral("Remove"));

    // No system frame; only the styled panel is drawn, and the head bar never shows.
    QVERIFY(box.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!box.windowFlags().testFlag(Qt::WindowTitleHint));
    QVERIFY(box.testAttribute(Qt::WA_TranslucentBackground));
    box.show();
    QVERIFY(!box.findChild<QWidget*>("pnDialogPanelHead")->isVisible());
    QVERIFY(box.findChild<QWidget*>("pnDialogPanel")->isVisible());
    const QString sheet = ApplicationBase::readTextFile(":/resources/ui/theme/default/messageboxview.css");
    QVERIFY(box.styleSheet().endsWith(sheet));
    QVERIFY(box.styleSheet().startsWith(DemoApp::get()->commonStyleSheet()));
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
