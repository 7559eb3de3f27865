#include "data/AppService.h"

#include "data/ServiceInstance.h"

AppService* AppService::instance()
{
    return ServiceInstance<AppService>::get();
}

void AppService::load()
{
    selectAll(m_apps);
}
