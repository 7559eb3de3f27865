#include "data/Dao.h"

#include "app/ApplicationBase.h"

#include <QSqlDatabase>
#include <QSqlError>

Dao::Dao()
    : m_query(QString(), QSqlDatabase())
{
}

Dao& Dao::prepare(QSqlQuery query, const QString& sql)
{
    query.prepare(sql);
    m_query = query;
    m_sql = sql;
    return *this;
}

Dao& Dao::bind(const char* name, const QVariant& value)
{
    m_query.bindValue(QString(QLatin1Char(':') + QString::fromUtf8(name)), value, QSql::In);
    return *this;
}

bool Dao::exec()
{
    if (m_query.exec())
        return true;
    // One pass over both values, so a '%1' inside the statement or the driver's text stays as it is.
    ApplicationBase::debugPrint(
        QStringLiteral("Dao Error"),
        QStringLiteral("sql: %1\r\nerror: %2").arg(m_sql, m_query.lastError().text()));
    return false;
}
