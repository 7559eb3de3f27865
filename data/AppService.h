#pragma once

#include "data/DesktopAppDao.h"

// The registered applications as the phone sees them: a snapshot read at start-up and again
// only when the user applies the application list.
class AppService : public DesktopAppDao
{
public:
    static AppService* instance();

    // A failed read keeps the previous snapshot.
    void load();
    QList<std::shared_ptr<DesktopApp>>& apps() { return m_apps; }

private:
    QList<std::shared_ptr<DesktopApp>> m_apps;
};
