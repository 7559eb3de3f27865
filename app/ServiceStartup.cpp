#include "app/ServiceStartup.h"

#include <QDebug>

ServiceStartup::ServiceStartup() = default;
ServiceStartup::~ServiceStartup() = default;

bool ServiceStartup::phaseA()
{
    return true;
}

bool ServiceStartup::phaseB()
{
    qDebug() << "应用程序已启动成功。";
    return true;
}

void ServiceStartup::phaseC()
{
}
