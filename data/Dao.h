#pragma once

#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// Base of the record stores: builds, binds and runs one statement at a time, and reports a
// failed statement once in the log. Written as one chain: prepare(...).bind(...).exec().
class Dao
{
public:
    Dao();

    // `query` is built by the caller on the connection; the prepare result is not examined
    // because exec reports any failure.
    Dao& prepare(QSqlQuery query, const QString& sql);
    // `name` without the leading colon.
    Dao& bind(const char* name, const QVariant& value);
    // On failure logs "Dao Error" with the statement and the driver's message.
    bool exec();

protected:
    // The statement of the last operation; the stores read rows and new keys from it.
    QSqlQuery m_query;
    QString m_sql;

private:
    // Executing a statement that failed to prepare replaces the driver's reason with a generic
    // one, so the reason is kept for the report.
    QSqlError m_prepareError;
};
