#include "data/UserButtonDao.h"

#include "data/SqlDatabase.h"

namespace {

Dao& bindColumns(Dao& dao, const UserButton& button)
{
    return dao.bind("label", button.label()).bind("keys", button.keys()).bind("sortNum", button.sortNum());
}

} // namespace

bool UserButtonDao::insert(std::shared_ptr<UserButton> button)
{
    prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
            QStringLiteral("insert into UserButton (label,keys,sortNum) values (:label,:keys,:sortNum)"));
    if (!bindColumns(*this, *button).exec())
        return false;
    button->setId(m_query.lastInsertId().toInt());
    return true;
}

bool UserButtonDao::update(std::shared_ptr<UserButton> button)
{
    prepare(
        QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
        QStringLiteral("update UserButton set label = :label,keys = :keys,sortNum = :sortNum where id=:id"))
        .bind("id", button->id());
    return bindColumns(*this, *button).exec();
}

bool UserButtonDao::remove(int id)
{
    return prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                   QStringLiteral("delete from UserButton where id = :id"))
        .bind("id", id)
        .exec();
}

void UserButtonDao::selectAll(QList<std::shared_ptr<UserButton>>& buttons)
{
    if (!prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                 QStringLiteral("select * from UserButton order by sortNum,id"))
             .exec())
        return;
    buttons.clear();
    while (m_query.next()) {
        auto button = std::make_shared<UserButton>();
        button->setId(m_query.value(QStringLiteral("id")).toInt());
        button->setLabel(m_query.value(QStringLiteral("label")).toString());
        button->setKeys(m_query.value(QStringLiteral("keys")).toString());
        button->setSortNum(m_query.value(QStringLiteral("sortNum")).toInt());
        buttons.append(button);
    }
}

bool UserButtonDao::ensureTable()
{
    QSqlDatabase database = SqlDatabase::database(SqlDatabase::Data);
    if (!database.isOpen())
        return false;
    if (database.tables(QSql::Tables).contains(QLatin1String("UserButton")))
        return true;
    return prepare(
               QSqlQuery(database),
               QStringLiteral("create table if not exists UserButton (id INTEGER PRIMARY KEY, label TEXT, "
                              "keys TEXT, sortNum INTEGER)"))
               .exec() &&
           prepare(QSqlQuery(database),
                   QStringLiteral("create index if not exists UserButtonOrder on UserButton (sortNum, id)"))
               .exec();
}
