#include "data/MediaFolderDao.h"

#include "data/SqlDatabase.h"

namespace {

// The columns that insert and update write alike.
Dao& bindColumns(Dao& dao, const MediaFolder& folder)
{
    return dao.bind("name", folder.name()).bind("path", folder.path()).bind("sortNum", folder.sortNum());
}

} // namespace

bool MediaFolderDao::insert(std::shared_ptr<MediaFolder> folder)
{
    prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
            QStringLiteral("insert into MediaFolder (name,path,sortNum) values (:name,:path,:sortNum)"));
    if (!bindColumns(*this, *folder).exec())
        return false;
    folder->setId(m_query.lastInsertId().toInt());
    return true;
}

bool MediaFolderDao::update(std::shared_ptr<MediaFolder> folder)
{
    prepare(
        QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
        QStringLiteral("update MediaFolder set name = :name,path = :path,sortNum = :sortNum where id=:id"))
        .bind("id", folder->id());
    return bindColumns(*this, *folder).exec();
}

bool MediaFolderDao::remove(int id)
{
    return prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                   QStringLiteral("delete from MediaFolder where id = :id"))
        .bind("id", id)
        .exec();
}

void MediaFolderDao::selectAll(QList<std::shared_ptr<MediaFolder>>& folders)
{
    if (!prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                 QStringLiteral("select * from MediaFolder order by sortNum,id"))
             .exec())
        return;
    folders.clear();
    while (m_query.next()) {
        auto folder = std::make_shared<MediaFolder>();
        folder->setId(m_query.value(QStringLiteral("id")).toInt());
        folder->setName(m_query.value(QStringLiteral("name")).toString());
        folder->setPath(m_query.value(QStringLiteral("path")).toString());
        folder->setSortNum(m_query.value(QStringLiteral("sortNum")).toInt());
        folders.append(folder);
    }
}
