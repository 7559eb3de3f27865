#include "data/AppService.h"

namespace {

std::shared_ptr<AppService>& holder()
{
    static std::shared_ptr<AppService> service = std::make_shared<AppService>();
    return service;
}

// Created during static initialisation; the function-local static keeps callers from other
// translation units safe from the initialisation order.
const bool g_created = holder() != nullptr;

} // namespace

AppService* AppService::instance()
{
    Q_UNUSED(g_created)
    return holder().get();
}

void AppService::load()
{
    selectAll(m_apps);
}
