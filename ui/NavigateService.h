#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

class NavigateItem;
class QStackedWidget;
class ViewController;

// Process-wide registry of navigation entries: binds a numeric navigation id to a stacked
// widget and its pages, and switches between the pages (unload the shown one, load the
// requested one, bring it to the front). GUI thread only.
class NavigateService : public QObject
{
    Q_OBJECT
public:
    NavigateService();
    ~NavigateService() override;

    static std::shared_ptr<NavigateService> instance();

    void addNavigate(int navigateId, QStackedWidget* stackedWidget);
    void addView(int navigateId, ViewController* view);
    void navigate(int navigateId, int viewId, QHash<QString, QVariant>* params, int subViewId);
    void close();

    // The entry for `navigateId`, or null when none is registered.
    std::shared_ptr<NavigateItem> item(int navigateId) const { return m_items.value(navigateId); }

signals:
    void beforeNavigate(int navigateId, int viewId, QHash<QString, QVariant>* params);

private:
    QHash<int, std::shared_ptr<NavigateItem>> m_items;
};
