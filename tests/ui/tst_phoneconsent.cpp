#include "app/DemoApp.h"
#include "remote/PhoneAccess.h"
#include "ui/AboutView.h"
#include "ui/PhoneConsentView.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

using Answer = PhoneConsentAsker::Answer;
Q_DECLARE_METATYPE(Answer)

// The new-phone question as the user meets it, and the About page's list of allowed phones.
class TestPhoneConsent : public QObject
{
    Q_OBJECT

    // The dialog the asker has on screen, if any.
    static PhoneConsentView* shownDialog()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* view = qobject_cast<PhoneConsentView*>(widget); view && view->isVisible())
                return view;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        static QTemporaryDir settingsDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        ApplicationBase::setInstance(new DemoApp());
    }

    void eachWayOfAnsweringCountsOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<Answer>("expected");
        QTest::newRow("Allow") << "btnAllow" << Answer::Allow;
        QTest::newRow("Always Allow") << "btnAlwaysAllow" << Answer::AlwaysAllow;
        QTest::newRow("Refuse") << "btnRefuse" << Answer::Refuse;
        QTest::newRow("closed") << "close" << Answer::Refuse;
    }
    void eachWayOfAnsweringCountsOnce()
    {
        QFETCH(QString, how);
        QFETCH(Answer, expected);
        PhoneConsentDialogAsker asker;
        QList<Answer> answers;
        asker.ask(QStringLiteral("192.168.1.23"), PhoneConsentAsker::Who::NewPhone, 60000,
                  [&answers](Answer answer) { answers << answer; });
        QPointer<PhoneConsentView> view = shownDialog();
        QVERIFY(view);
        // Above every window, frameless, and naming the phone.
        QVERIFY(view->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(view->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(view->findChild<QLabel*>("lbConsentContent")->text().contains(QLatin1String("192.168.1.23")));

        // It takes no focus, and keys that reach it all the same (the pointer rests on it while
        // the user or the phone types for another window) choose nothing.
        QVERIFY(view->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(!view->isActiveWindow());
        for (auto* button : view->findChildren<QPushButton*>())
            QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Escape), int(Qt::Key_Space)})
            QTest::keyClick(view, Qt::Key(key));
        for (const char shortcut : {'A', 'W', 'R'})
            QTest::keyClick(view, shortcut, Qt::AltModifier);
        QCOMPARE(answers, QList<Answer>{});
        QVERIFY(view->isVisible());
        if (how == QLatin1String("close"))
            view->close();
        else
            view->findChild<QPushButton*>(how)->click();
        QCOMPARE(answers, QList<Answer>{expected});
        QTRY_VERIFY(!view); // gone, and its answer not given twice
        QCOMPARE(answers.size(), 1);
    }

    // Another user's program is named as such, and cannot be always allowed.
    void anotherUsersProgramIsNamedAndNeverRemembered()
    {
        PhoneConsentDialogAsker asker;
        QList<Answer> answers;
        asker.ask(QStringLiteral("10.78.0.1"), PhoneConsentAsker::Who::OtherUser, 60000,
                  [&answers](Answer answer) { answers << answer; });
        QPointer<PhoneConsentView> view = shownDialog();
        QVERIFY(view);
        const QString text = view->findChild<QLabel*>("lbConsentContent")->text();
        QVERIFY2(text.contains(QLatin1String("another user")) && text.contains(QLatin1String("10.78.0.1")),
                 qPrintable(text));
        QVERIFY(!view->findChild<QPushButton*>("btnAlwaysAllow")->isVisible());
        view->findChild<QPushButton*>("btnAllow")->click();
        QCOMPARE(answers, QList<Answer>{Answer::Allow});
    }

    void aWithdrawnQuestionIsNotAnswered()
    {
        PhoneConsentDialogAsker asker;
        int answers = 0;
        asker.ask(QStringLiteral("10.0.0.8"), PhoneConsentAsker::Who::NewPhone, 60000,
                  [&answers](Answer) { ++answers; });
        QPointer<PhoneConsentView> view = shownDialog();
        asker.cancel();
        QTRY_VERIFY(!view);
        QCOMPARE(answers, 0);
    }

    // The dialog tells how long is left before the question closes by itself, down to none.
    void countsDownTheTimeLeft()
    {
        PhoneConsentDialogAsker asker;
        asker.ask(QStringLiteral("10.0.0.9"), PhoneConsentAsker::Who::NewPhone, 59001, [](Answer) {});
        PhoneConsentView* view = shownDialog();
        QVERIFY(view);
        auto* left = view->findChild<QLabel*>("lbTimeLeft");
        auto* countdown = view->findChild<QTimer*>("countdown");
        QVERIFY(left->isVisible() && countdown->isActive() && countdown->interval() == 1000);
        QVERIFY2(left->text().contains(QLatin1String(" 60 ")), qPrintable(left->text()));
        for (int i = 0; i < 59; ++i)
            QMetaObject::invokeMethod(countdown, "timeout");
        QVERIFY2(left->text().contains(QLatin1String(" 1 ")), qPrintable(left->text()));
        QMetaObject::invokeMethod(countdown, "timeout");
        QMetaObject::invokeMethod(countdown, "timeout");
        QVERIFY2(left->text().contains(QLatin1String(" 0 ")), qPrintable(left->text()));
    }

    void aboutPageListsAndRemovesAllowedPhones()
    {
        PhoneAccess* access = PhoneAccess::shared();
        access->remember(QStringLiteral("192.168.1.30"), QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC));
        access->remember(QStringLiteral("192.168.1.31"), QDateTime(QDate(2026, 5, 6), QTime(7, 8), Qt::UTC));
        QStringList forgotten;
        connect(access, &PhoneAccess::phoneForgotten, this,
                [&forgotten](const QString& a) { forgotten << a; });

        AboutView view;
        auto* list = view.findChild<QTreeWidget*>("twRememberedPhones");
        auto* remove = view.findChild<QPushButton*>("btnRemovePhone");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("192.168.1.31")); // last seen first
        QVERIFY(!remove->isEnabled());
        list->setCurrentItem(list->topLevelItem(1));
        QVERIFY(remove->isEnabled());
        remove->click();
        QCOMPARE(forgotten, QStringList{QStringLiteral("192.168.1.30")});
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(access->rememberedPhones().size(), 1);

        // The two switches are the stored settings, both ways.
        auto* lanOnly = view.findChild<QCheckBox*>("chkLocalNetworkOnly");
        auto* ask = view.findChild<QCheckBox*>("chkAskNewPhones");
        QVERIFY(lanOnly->isChecked() && ask->isChecked());
        ask->setChecked(false);
        lanOnly->setChecked(false);
        QVERIFY(!access->askBeforeNewPhone() && !access->localNetworkOnly());
        AboutView again;
        QVERIFY(!again.findChild<QCheckBox*>("chkAskNewPhones")->isChecked());
        QVERIFY(!again.findChild<QCheckBox*>("chkLocalNetworkOnly")->isChecked());
    }
};

QTEST_MAIN(TestPhoneConsent)
#include "tst_phoneconsent.moc"
