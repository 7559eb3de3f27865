#include "app/ServiceStartup.h"

#include "data/ConfigService.h"
#include "data/SqlDatabase.h"

#include <QDebug>

ServiceStartup::ServiceStartup() = default;
ServiceStartup::~ServiceStartup() = default;

bool ServiceStartup::phaseA()
{
    SqlDatabase::createRegistry();
    if (!openDatabases())
        return false;
    ConfigService::instance()->load();
    return true;
}

bool ServiceStartup::phaseB()
{
    qDebug() << "应用程序已启动成功。";
    return true;
}

void ServiceStartup::phaseC()
{
    SqlDatabase::destroyRegistry();
}
