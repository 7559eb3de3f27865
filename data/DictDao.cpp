#include "data/DictDao.h"

#include "data/SqlDatabase.h"

namespace {

// The columns that insert and update write alike.
Dao& bindColumns(Dao& dao, const Dict& dict)
{
    return dao.bind("dictName", dict.dictName())
        .bind("dictDesc", dict.dictDesc())
        .bind("dictValue", dict.dictValue())
        .bind("sortNum", dict.sortNum());
}

} // namespace

bool DictDao::insert(std::shared_ptr<Dict> dict)
{
    prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Config)),
            QStringLiteral("insert into dict (dictName,dictDesc,dictValue,sortNum) "
                           "values (:dictName,:dictDesc,:dictValue,:sortNum)"));
    if (!bindColumns(*this, *dict).exec())
        return false;
    dict->setDictId(m_query.lastInsertId().toInt());
    return true;
}

bool DictDao::update(std::shared_ptr<Dict> dict)
{
    prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Config)),
            QStringLiteral("update dict set dictName = :dictName,dictDesc = :dictDesc,"
                           "dictValue = :dictValue,sortNum = :sortNum where dictId=:dictId"))
        .bind("dictId", dict->dictId());
    return bindColumns(*this, *dict).exec();
}

void DictDao::selectAll(QList<std::shared_ptr<Dict>>& dicts)
{
    if (!prepare(QSqlQuery(SqlDatabase::database(SqlDatabase::Config)),
                 QStringLiteral("select * from dict order by dictId"))
             .exec())
        return;
    dicts.clear();
    while (m_query.next()) {
        auto dict = std::make_shared<Dict>();
        dict->setDictId(m_query.value(QStringLiteral("dictId")).toInt());
        dict->setDictName(m_query.value(QStringLiteral("dictName")).toString());
        dict->setDictDesc(m_query.value(QStringLiteral("dictDesc")).toString());
        dict->setDictValue(m_query.value(QStringLiteral("dictValue")).toString());
        dict->setSortNum(m_query.value(QStringLiteral("sortNum")).toInt());
        dicts.append(dict);
    }
}
