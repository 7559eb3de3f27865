#include "ui/DialogBase.h"
#include "ui/NavigateItem.h"
#include "ui/NavigateService.h"
#include "ui/ViewController.h"

#include <QLabel>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QtTest>

using ParamMap = QHash<QString, QVariant>;
Q_DECLARE_METATYPE(ParamMap*)

namespace {

// Writes every call into a log shared by all pages, so the order across pages is visible.
class RecordingView final : public ViewController
{
public:
    RecordingView(int number, QStringList* log, QWidget* parent = nullptr)
        : ViewController(parent)
        , m_number(number)
        , m_log(log)
    {
    }
    void init() override { m_log->append(QStringLiteral("init %1").arg(m_number)); }
    void load(QHash<QString, QVariant>* params) override { record(QStringLiteral("load"), params); }
    void unload(QHash<QString, QVariant>* params) override { record(QStringLiteral("unload"), params); }

private:
    void record(const QString& what, const QHash<QString, QVariant>* params)
    {
        m_log->append(QStringLiteral("%1 %2 {%3,%4}")
                          .arg(what)
                          .arg(m_number)
                          .arg(params->value(QStringLiteral("navigateId")).toInt())
                          .arg(params->value(QStringLiteral("viewId")).toInt()));
    }
    int m_number;
    QStringList* m_log;
};

// A stacked widget with `count` recording pages, registered under navigation id 0.
struct Pages
{
    explicit Pages(NavigateService& service, int count = 3, int navigateId = 0)
    {
        service.addNavigate(navigateId, &stack);
        for (int i = 0; i < count; ++i) {
            auto* page = new QWidget;
            stack.addWidget(page);
            auto* view = ViewController::embedView(page, new RecordingView(i, &log));
            views.append(view);
            service.addView(navigateId, view);
        }
    }
    QStringList takeLog()
    {
        const QStringList copy = log;
        log.clear();
        return copy;
    }
    QStackedWidget stack;
    QStringList log;
    QList<ViewController*> views;
};

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<ParamMap*>("QHash<QString,QVariant>*"); }
    void switchingOrderAndMaps();
    void repeatedRequestDoesNothing();
    void subViewIds();
    void closeThenRepeat();
    void addNavigateOnExistingId();
    void unknownIdsAndViewsAreIgnored();
    void dialogDragsWithLeftButton();
};

void TestNavigation::switchingOrderAndMaps()
{
    QVERIFY(NavigateService::instance());
    QCOMPARE(NavigateService::instance().get(), NavigateService::instance().get());
    NavigateService service;
    Pages pages(service);
    service.navigate(0, 0, nullptr, 0);
    QCOMPARE(pages.takeLog(), QStringList({"init 0", "load 0 {0,0}"}));
    QCOMPARE(pages.stack.currentIndex(), 0);

    QHash<QString, QVariant> params{{QStringLiteral("from"), QStringLiteral("test")}};
    service.navigate(0, 1, &params, 0);
    QCOMPARE(pages.takeLog(), QStringList({"unload 0 {0,0}", "init 1", "load 1 {0,1}"}));
    QCOMPARE(pages.stack.currentIndex(), 1);
    QCOMPARE(params.value(QStringLiteral("navigateId")).toInt(), 0);
    QCOMPARE(params.value(QStringLiteral("viewId")).toInt(), 1);
    QCOMPARE(params.value(QStringLiteral("from")).toString(), QStringLiteral("test"));

    // init runs once per page, before its first load only.
    service.navigate(0, 0, nullptr, 0);
    service.navigate(0, 1, nullptr, 0);
    QCOMPARE(pages.takeLog(),
             QStringList({"unload 1 {0,1}", "load 0 {0,0}", "unload 0 {0,0}", "load 1 {0,1}"}));
    QVERIFY(pages.views.at(2)->isFirstLoad());
    QCOMPARE(service.item(0)->currentView(), pages.views.at(1));
}

void TestNavigation::repeatedRequestDoesNothing()
{
    NavigateService service;
    Pages pages(service);
    QSignalSpy before(&service, &NavigateService::beforeNavigate);
    service.navigate(0, 1, nullptr, 0);
    pages.takeLog();

    pages.stack.setCurrentIndex(2);
    QHash<QString, QVariant> params;
    service.navigate(0, 1, &params, 0);
    QCOMPARE(before.count(), 2);
    QVERIFY(pages.log.isEmpty());
    QCOMPARE(pages.stack.currentIndex(), 2);
    // The caller's map is filled even though nothing was loaded.
    QCOMPARE(params.value(QStringLiteral("navigateId")).toInt(), 0);
    QCOMPARE(params.value(QStringLiteral("viewId")).toInt(), 1);
    QCOMPARE(before.at(1).at(2).value<ParamMap*>(), &params);
}

void TestNavigation::subViewIds()
{
    NavigateService service;
    Pages pages(service);
    service.navigate(0, 1, nullptr, 0);
    pages.takeLog();
    // Same page, sub-view 1 or more: unload and load again.
    service.navigate(0, 1, nullptr, 2);
    QCOMPARE(pages.takeLog(), QStringList({"unload 1 {0,1}", "load 1 {0,1}"}));
    // Same page, sub-view back to 0: load again without unload.
    service.navigate(0, 1, nullptr, 0);
    QCOMPARE(pages.takeLog(), QStringList({"load 1 {0,1}"}));
    QCOMPARE(service.item(0)->subViewId(), 0);
}

void TestNavigation::closeThenRepeat()
{
    NavigateService service;
    Pages pages(service);
    service.navigate(0, 2, nullptr, 0);
    pages.takeLog();

    service.close();
    QCOMPARE(pages.takeLog(), QStringList({"unload 2 {0,2}"}));
    QVERIFY(service.item(0)->currentView() == nullptr);
    QCOMPARE(service.item(0)->requestViewId(), 2);
    service.close();
    QVERIFY(pages.takeLog().isEmpty());

    // The same request is still a repeat; another page loads with no unload before it.
    service.navigate(0, 2, nullptr, 0);
    QVERIFY(pages.takeLog().isEmpty());
    service.navigate(0, 0, nullptr, 0);
    QCOMPARE(pages.takeLog(), QStringList({"init 0", "load 0 {0,0}"}));
}

void TestNavigation::addNavigateOnExistingId()
{
    NavigateService service;
    Pages pages(service);
    service.navigate(0, 1, nullptr, 0);
    pages.takeLog();

    QStackedWidget other;
    other.addWidget(new QLabel);
    other.addWidget(new QLabel);
    other.addWidget(new QLabel);
    service.addNavigate(0, &other);
    const auto entry = service.item(0);
    QCOMPARE(entry->stackedWidget(), &other);
    QCOMPARE(entry->views(), pages.views);
    QCOMPARE(entry->currentView(), pages.views.at(1));
    QCOMPARE(entry->requestViewId(), 1);

    service.navigate(0, 2, nullptr, 0);
    QCOMPARE(pages.takeLog(), QStringList({"unload 1 {0,1}", "init 2", "load 2 {0,2}"}));
    QCOMPARE(other.currentIndex(), 2);
    QCOMPARE(pages.stack.currentIndex(), 1);

    // Once the stacked widget and its pages are gone, registering the id again starts afresh
    // instead of keeping view ids that point at destroyed pages.
    NavigateService fresh;
    auto* gone = new Pages(fresh, 1, 5);
    fresh.navigate(5, 0, nullptr, 0);
    delete gone;
    QVERIFY(fresh.item(5)->currentView() == nullptr);
    fresh.close(); // must not touch the destroyed page
    Pages rebuilt(fresh, 1, 5);
    fresh.navigate(5, 0, nullptr, 0);
    QCOMPARE(rebuilt.takeLog(), QStringList({"init 0", "load 0 {5,0}"}));
}

void TestNavigation::unknownIdsAndViewsAreIgnored()
{
    NavigateService service;
    Pages pages(service);
    QSignalSpy before(&service, &NavigateService::beforeNavigate);
    QStringList strayLog;
    RecordingView stray(9, &strayLog);
    service.addView(3, &stray);
    QVERIFY(!service.item(3));
    service.navigate(3, 0, nullptr, 0);
    QCOMPARE(before.count(), 0);

    service.navigate(0, 1, nullptr, 0);
    pages.takeLog();
    // A view id outside the list leaves the shown page loaded and the request unchanged.
    service.navigate(0, 3, nullptr, 0);
    service.navigate(0, -1, nullptr, 0);
    QVERIFY(pages.takeLog().isEmpty());
    QCOMPARE(pages.stack.currentIndex(), 1);
    QCOMPARE(service.item(0)->requestViewId(), 1);
    QCOMPARE(service.item(0)->currentView(), pages.views.at(1));
}

void TestNavigation::dialogDragsWithLeftButton()
{
    DialogBase dialog;
    dialog.resize(200, 100);
    dialog.move(100, 100);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.move(100, 100); // a window manager may have placed it
    // A move carries the held button in `buttons` only, as a real drag does.
    auto send = [&dialog](QEvent::Type type, QPoint global, Qt::MouseButton button) {
        QMouseEvent event(type, dialog.mapFromGlobal(global), global,
                          type == QEvent::MouseMove ? Qt::NoButton : button, button, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(150, 120), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(180, 160), Qt::LeftButton);
    QCOMPARE(dialog.pos(), QPoint(130, 140));
    send(QEvent::MouseButtonRelease, QPoint(180, 160), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(300, 300), Qt::LeftButton);
    QCOMPARE(dialog.pos(), QPoint(130, 140));

    // A right-button press only records the offset; moving does not drag.
    send(QEvent::MouseButtonPress, QPoint(140, 150), Qt::RightButton);
    send(QEvent::MouseMove, QPoint(200, 200), Qt::RightButton);
    QCOMPARE(dialog.pos(), QPoint(130, 140));
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
