#include "ui/NavigateItem.h"

#include "ui/ViewController.h"

#include <QDebug>
#include <QStackedWidget>

NavigateItem::NavigateItem(int navigateId, QStackedWidget* stackedWidget)
    : m_stackedWidget(stackedWidget)
    , m_navigateId(navigateId)
{
}

void NavigateItem::addView(ViewController* view)
{
    m_views.append(view);
}

void NavigateItem::setStackedWidget(QStackedWidget* stackedWidget)
{
    m_stackedWidget = stackedWidget;
}

QStackedWidget* NavigateItem::stackedWidget() const
{
    return m_stackedWidget.data();
}

ViewController* NavigateItem::currentView() const
{
    return m_currentView.data();
}

QList<ViewController*> NavigateItem::views() const
{
    QList<ViewController*> views;
    views.reserve(m_views.size());
    for (const auto& view : m_views)
        views.append(view.data());
    return views;
}

void NavigateItem::navigate(int viewId, QHash<QString, QVariant>* params, int subViewId)
{
    QHash<QString, QVariant> localParams;
    QHash<QString, QVariant>* p = params ? params : &localParams;
    p->insert(QStringLiteral("navigateId"), m_navigateId);
    p->insert(QStringLiteral("viewId"), viewId);

    if (m_requestViewId == viewId && m_subViewId == subViewId)
        return;
    // A view id that names no registered page would leave the shown page unloaded and the
    // stacked widget unchanged; refuse it before touching any state.
    if (viewId < 0 || viewId >= m_views.size()) {
        qWarning() << "NavigateItem: no view" << viewId << "in navigation" << m_navigateId;
        return;
    }
    m_requestViewId = viewId;
    m_subViewId = subViewId;

    ViewController* next = m_views.at(viewId);
    // Sub-view 0 of the page already shown loads it again without unloading it first.
    if (!(subViewId < 1 && next == m_currentView))
        unloadCurrentView();
    if (next) {
        m_currentView = next;
        m_viewId = viewId;
        if (next->isFirstLoad()) {
            next->init();
            next->setFirstLoad(false);
        }
        next->load(p);
    }
    if (m_stackedWidget)
        m_stackedWidget->setCurrentIndex(viewId);
}

void NavigateItem::unloadCurrentView()
{
    if (!m_currentView)
        return;
    QHash<QString, QVariant> unloadParams;
    unloadParams.insert(QStringLiteral("navigateId"), m_navigateId);
    unloadParams.insert(QStringLiteral("viewId"), m_viewId);
    ViewController* current = m_currentView;
    m_currentView = nullptr;
    current->unload(&unloadParams);
}
