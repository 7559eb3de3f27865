#include "ui/NavigateService.h"

#include "ui/NavigateItem.h"

#include <QStackedWidget>

namespace {
// Created before main, lives until process exit: pages of any window may register with it.
const std::shared_ptr<NavigateService> g_navigateService = std::make_shared<NavigateService>();
} // namespace

NavigateService::NavigateService()
    : QObject(nullptr)
{
}

NavigateService::~NavigateService() = default;

std::shared_ptr<NavigateService> NavigateService::instance()
{
    return g_navigateService;
}

void NavigateService::addNavigate(int navigateId, QStackedWidget* stackedWidget)
{
    const auto existing = m_items.value(navigateId);
    if (existing && existing->stackedWidget()) {
        existing->setStackedWidget(stackedWidget);
        return;
    }
    // New id, or an entry whose stacked widget (and with it every page) has been destroyed:
    // a window built again must not inherit view ids that point at nothing.
    m_items.insert(navigateId, std::make_shared<NavigateItem>(navigateId, stackedWidget));
}

void NavigateService::addView(int navigateId, ViewController* view)
{
    const auto entry = m_items.value(navigateId);
    if (entry)
        entry->addView(view);
}

void NavigateService::navigate(int navigateId, int viewId, QHash<QString, QVariant>* params, int subViewId)
{
    const auto entry = m_items.value(navigateId);
    if (!entry)
        return;
    emit beforeNavigate(navigateId, viewId, params);
    entry->navigate(viewId, params, subViewId);
}

void NavigateService::close()
{
    const QList<int> ids = m_items.keys();
    for (int id : ids) {
        const auto entry = m_items.value(id);
        if (entry)
            entry->unloadCurrentView();
    }
}
