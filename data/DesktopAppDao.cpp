#include "data/DesktopAppDao.h"

#include "data/SqlDatabase.h"

namespace {

// The columns that insert and update write alike.
Dao& bindColumns(Dao& dao, const DesktopApp& app)
{
    return dao.bind("name", app.name())
        .bind("path", app.path())
        .bind("workDir", app.workDir())
        .bind("param", app.param())
        .bind("sortNum", app.sortNum());
}

} // namespace

bool DesktopAppDao::insert(std::shared_ptr<DesktopApp> app)
{
    prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
            QStringLiteral("insert into DesktopApp (name,path,workDir,param,sortNum) "
                           "values (:name,:path,:workDir,:param,:sortNum)"));
    if (!bindColumns(*this, *app).exec())
        return false;
    app->setId(m_query.lastInsertId().toInt());
    return true;
}

bool DesktopAppDao::update(std::shared_ptr<DesktopApp> app)
{
    prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
            QStringLiteral("update DesktopApp set name = :name,path = :path,workDir = :workDir,"
                           "param = :param,sortNum = :sortNum where id=:id"))
        .bind("id", app->id());
    return bindColumns(*this, *app).exec();
}

bool DesktopAppDao::remove(int id)
{
    return prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                   QStringLiteral("delete from DesktopApp where id = :id"))
        .bind("id", id)
        .exec();
}

void DesktopAppDao::selectAll(QList<std::shared_ptr<DesktopApp>>& apps)
{
    if (!prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                 QStringLiteral("select * from DesktopApp order by sortNum,id"))
             .exec())
        return;
    apps.clear();
    while (m_query.next()) {
        auto app = std::make_shared<DesktopApp>();
        app->setId(m_query.value(QStringLiteral("id")).toInt());
        app->setName(m_query.value(QStringLiteral("name")).toString());
        app->setPath(m_query.value(QStringLiteral("path")).toString());
        app->setWorkDir(m_query.value(QStringLiteral("workDir")).toString());
        app->setParam(m_query.value(QStringLiteral("param")).toString());
        app->setSortNum(m_query.value(QStringLiteral("sortNum")).toInt());
        apps.append(app);
    }
}
