#include "app/ServiceStartup.h"

#include "data/ConfigService.h"
#include "data/SqlDatabase.h"
#include "web/HttpServer.h"

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

    m_httpServer = std::make_unique<HttpServer>(nullptr);
    if (!m_httpServer->start(6888)) {
        qCritical() << "无法启动HTTP服务器";
        return false;
    }
    qInfo() << "HTTP服务器已启动，监听端口6888";
    return true;
}

void ServiceStartup::phaseC()
{
    if (m_httpServer)
        m_httpServer->stop();
    SqlDatabase::destroyRegistry();
}
