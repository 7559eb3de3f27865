// Builds a template database from a schema file: velmora_makedb <schema.sql> <output.db>.
// Runs at build time; the output is replaced only once the new file is complete.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cstdio>

namespace {

// Splits SQL text into statements at semicolons outside quotes and comments.
QStringList splitStatements(const QString& text)
{
    QStringList statements;
    QString current;
    const int length = text.size();
    for (int i = 0; i < length; ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < length ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            while (i < length && text.at(i) != QLatin1Char('\n'))
                ++i;
            current += QLatin1Char('\n');
            continue;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const int end = text.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? length : end + 1;
            current += QLatin1Char(' ');
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            int end = i + 1;
            // A doubled quote inside the literal is an escaped quote.
            while (end < length && (text.at(end) != c || (end + 1 < length && text.at(end + 1) == c)))
                end += text.at(end) == c ? 2 : 1;
            current += text.midRef(i, end - i + 1);
            i = end;
            continue;
        }
        if (c == QLatin1Char(';')) {
            if (!current.trimmed().isEmpty())
                statements << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

int fail(const QString& message)
{
    std::fprintf(stderr, "velmora_makedb: %s\n", qPrintable(message));
    return 1;
}

int build(const QString& schemaPath, const QString& outputPath)
{
    QFile schema(schemaPath);
    if (!schema.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot read ") + schemaPath);
    const QStringList statements = splitStatements(QString::fromUtf8(schema.readAll()));
    if (statements.isEmpty())
        return fail(schemaPath + QStringLiteral(" holds no statement"));

    QDir().mkpath(QFileInfo(outputPath).absolutePath());
    const QString partPath = outputPath + QStringLiteral(".part");
    QFile::remove(partPath);

    bool ok = true;
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("makedb"));
        db.setDatabaseName(partPath);
        if (!db.open()) {
            ok = false;
            error = db.lastError().text();
        }
        if (ok)
            db.transaction();
        for (const QString& statement : statements) {
            if (!ok)
                break;
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                ok = false;
                error = statement + QStringLiteral(": ") + query.lastError().text();
            }
        }
        if (ok && !db.commit()) {
            ok = false;
            error = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("makedb"));

    if (!ok) {
        QFile::remove(partPath);
        return fail(error);
    }
    QFile::remove(outputPath);
    if (!QFile::rename(partPath, outputPath))
        return fail(QStringLiteral("cannot write ") + outputPath);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return fail(QStringLiteral("usage: velmora_makedb <schema.sql> <output.db>"));
    return build(arguments.at(1), arguments.at(2));
}
