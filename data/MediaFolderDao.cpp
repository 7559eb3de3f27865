#include "data/MediaFolderDao.h"

#include "data/SqlDatabase.h"

bool MediaFolderDao::insert(std::shared_ptr<MediaFolder> folder)
{
    const bool ok =
        prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                QStringLiteral("insert into MediaFolder (name,path,sortNum) values (:name,:path,:sortNum)"))
            .bind("name", folder->name())
            .bind("path", folder->path())
            .bind("sortNum", folder->sortNum())
            .exec();
    if (!ok)
        return false;
    folder->setId(m_query.lastInsertId().toInt());
    return true;
}

bool MediaFolderDao::update(std::shared_ptr<MediaFolder> folder)
{
    return prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Data)),
                   QStringLiteral(
                       "update MediaFolder set name = :name,path = :path,sortNum = :sortNum where id=:id"))
        .bind("id", folder->id())
        .bind("name", folder->name())
        .bind("path", folder->path())
        .bind("sortNum", folder->sortNum())
        .exec();
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
