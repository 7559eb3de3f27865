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
    m_prepareError = query.prepare(sql) ? QSqlError() : query.lastError();
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
    const QSqlError error = m_prepareError.isValid() ? m_prepareError : m_query.lastError();
    // One pass over both values, so a '%1' inside the statement or the driver's text stays as it is.
    ApplicationBase::debugPrint(QStringLiteral("Dao Error"),
                                QStringLiteral("sql: %1\r\nerror: %2").arg(m_sql, error.text()));
    return false;
}
