#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariant>

class QStackedWidget;
class ViewController;

// One navigation entry: a stacked widget and the pages shown in it, in registration order
// (a page's view id is its index). The pages are not owned; they are children of the stacked
// widget's pages, so the entry only watches them and treats a destroyed page as absent.
class NavigateItem final
{
public:
    static constexpr int NoRequest = 9999;

    NavigateItem(int navigateId, QStackedWidget* stackedWidget);

    void addView(ViewController* view);
    void setStackedWidget(QStackedWidget* stackedWidget);

    void navigate(int viewId, QHash<QString, QVariant>* params, int subViewId);
    void unloadCurrentView();

    int navigateId() const { return m_navigateId; }
    QStackedWidget* stackedWidget() const;
    QList<ViewController*> views() const;
    ViewController* currentView() const;
    int viewId() const { return m_viewId; }
    int requestViewId() const { return m_requestViewId; }
    int subViewId() const { return m_subViewId; }

private:
    QList<QPointer<ViewController>> m_views;
    QPointer<QStackedWidget> m_stackedWidget;
    QPointer<ViewController> m_currentView;
    int m_navigateId;
    int m_viewId = 0;
    int m_requestViewId = NoRequest;
    int m_subViewId = 0;
};
