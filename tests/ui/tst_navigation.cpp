#include "ui/NavigateItem.h"
#include "ui/NavigateService.h"
#include "ui/ViewController.h"

#include <QStackedWidget>
#include <QtTest>

using ParamMap = QHash<QString, QVariant>;

namespace {

// Writes every call into a log shared by all pages, so the order across pages is visible.
struct RecordingView final : ViewController
{
    void init() override { log->append(QStringLiteral("init %1").arg(number)); }
    void load(ParamMap* params) override { log->append(entry("load", *params)); }
    void unload(ParamMap* params) override { log->append(entry("unload", *params)); }
    QString entry(const char* what, const ParamMap& p) const
    {
        return QStringLiteral("%1 %2 {%3,%4}%5")
            .arg(what)
            .arg(number)
            .arg(p["navigateId"].toString(), p["viewId"].toString(), p["from"].toString());
    }
    int number = 0;
    QStringList* log = nullptr;
};

// A stacked widget with `count` recording pages, registered under `navigateId`.
struct Pages
{
    explicit Pages(NavigateService& service, int count = 3, int navigateId = 0)
    {
        service.addNavigate(navigateId, &stack);
        for (int i = 0; i < count; ++i) {
            auto* view = new RecordingView;
            view->number = i;
            view->log = &log;
            stack.addWidget(new QWidget);
            views.append(ViewController::embedView(stack.widget(i), view));
            service.addView(navigateId, views.last());
        }
    }
    QString takeLog() { return std::exchange(log, {}).join("; "); }
    QStackedWidget stack;
    QStringList log;
    QList<ViewController*> views;
};

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT
private slots:
    void sequences_data()
    {
        // Steps on navigation 0: a view id, "view/subView" or "close". The log ends with the
        // page loaded and the page shown.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("log");
        // init runs once per page, before its first load only.
        QTest::newRow("order") << "0 1 0"
                               << "init 0; load 0 {0,0}; unload 0 {0,0}; init 1; load 1 {0,1}; unload 1 "
                                  "{0,1}; load 0 {0,0} => 0/0";
        QTest::newRow("repeated request") << "1 1"
                                          << "init 1; load 1 {0,1} => 1/1";
        // Sub-view 1 or more reloads the shown page; back to 0 loads it without an unload.
        QTest::newRow("sub views")
            << "1 1/2 1"
            << "init 1; load 1 {0,1}; unload 1 {0,1}; load 1 {0,1}; load 1 {0,1} => 1/1";
        // After close the same request is still a repeat; another page loads with no unload first.
        QTest::newRow("close then repeat")
            << "2 close close 2 0"
            << "init 2; load 2 {0,2}; unload 2 {0,2}; init 0; load 0 {0,0} => 0/0";
        // A view id outside the list leaves the shown page loaded and the request unchanged.
        QTest::newRow("unknown view ids") << "1 3 -1 1"
                                          << "init 1; load 1 {0,1} => 1/1";
    }
    void sequences()
    {
        QFETCH(QString, steps);
        QFETCH(QString, log);
        NavigateService service;
        Pages pages(service);
        for (const QString& step : steps.split(' ')) {
            if (step == QLatin1String("close"))
                service.close();
            else
                service.navigate(0, step.section('/', 0, 0).toInt(), nullptr, step.section('/', 1).toInt());
        }
        const int loaded = pages.views.indexOf(service.item(0)->currentView());
        QCOMPARE(pages.takeLog() + QStringLiteral(" => %1/%2").arg(loaded).arg(pages.stack.currentIndex()),
                 log);
    }

    void maps()
    {
        NavigateService service;
        Pages pages(service);
        int emitted = 0;
        connect(&service, &NavigateService::beforeNavigate, [&emitted] { ++emitted; });
        ParamMap params{{"from", "+caller"}};
        service.navigate(0, 1, &params, 0);
        service.navigate(0, 0, nullptr, 0);
        // The caller's map reaches load; unload gets a map of its own.
        QCOMPARE(pages.takeLog(), "init 1; load 1 {0,1}+caller; unload 1 {0,1}; init 0; load 0 {0,0}");
        // A repeated request shows nothing new but still fills the caller's map and emits.
        pages.stack.setCurrentIndex(2);
        ParamMap repeat;
        service.navigate(0, 0, &repeat, 0);
        QCOMPARE(pages.stack.currentIndex(), 2);
        QCOMPARE(params, ParamMap({{"from", "+caller"}, {"navigateId", 0}, {"viewId", 1}}));
        QCOMPARE(repeat, ParamMap({{"navigateId", 0}, {"viewId", 0}}));
        QCOMPARE(emitted, 3);
    }

    void addNavigateOnExistingId()
    {
        NavigateService service;
        Pages pages(service);
        service.navigate(0, 1, nullptr, 0);
        // Registering the id again only swaps the stacked widget; pages and state stay.
        QStackedWidget other;
        for (int i = 0; i < 3; ++i)
            other.addWidget(new QWidget);
        service.addNavigate(0, &other);
        service.navigate(0, 2, nullptr, 0);
        QCOMPARE(pages.takeLog(), "init 1; load 1 {0,1}; unload 1 {0,1}; init 2; load 2 {0,2}");
        QCOMPARE(other.currentIndex(), 2);
        QCOMPARE(pages.stack.currentIndex(), 1);

        // Once the stacked widget and its pages are gone, registering the id again starts afresh
        // instead of keeping view ids that point at destroyed pages.
        auto* gone = new Pages(service, 1, 5);
        service.navigate(5, 0, nullptr, 0);
        delete gone;
        service.close(); // must not touch the destroyed page
        Pages rebuilt(service, 1, 5);
        service.navigate(5, 0, nullptr, 0);
        QCOMPARE(rebuilt.takeLog(), "init 0; load 0 {5,0}");
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
