#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <memory>

// One open SQLite connection, and the process-wide registry that maps a database id to it.
// The record stores look their connection up by id for every statement.
class SqlDatabase : public QObject
{
    Q_OBJECT
public:
    enum DatabaseId
    {
        Data = 0,   // "data.db": applications and media folders
        Config = 1, // "cfg.db": the dict table
        Log = 2,    // "log.db": installed and opened, not used by any statement
    };

    explicit SqlDatabase(QObject* parent = nullptr);
    // Neither closes the connection nor removes it from Qt's connection list.
    ~SqlDatabase() override = default;

    // Opens the SQLite file under a connection named after the file. False when it cannot be
    // opened or holds no table (a file SQLite would silently treat as a fresh empty database).
    bool open(const QString& path);

    QString connectionName() const { return m_connectionName; }

    static void createRegistry();
    // Replaces an entry with the same id.
    static void registerDatabase(int id, std::shared_ptr<SqlDatabase> database);
    // The registered connection, or an invalid one when the id is not registered (or there is
    // no registry). Callers copy the result.
    static QSqlDatabase& database(int id);
    static void destroyRegistry();

private:
    QSqlDatabase m_database;
    QString m_connectionName;
};

// Copies each template database that the live folder lacks, then opens and registers the live
// copies, in the order cfg.db, log.db, data.db. False when a missing file could not be installed:
// the program cannot run without its data.
bool openDatabases();

// The folder holding the template databases: "Data" beside the program when there is one,
// otherwise the installed data folder (share/velmora/Data relative to an installed bin/).
QString templateFolder(const QString& programDir);

// Installs `fileName` from `sourceFolder` into `targetFolder` unless it is already there, then
// opens and registers it under `id`. False only when the template is missing or the copy fails;
// a live file that cannot be used is left on disk as it is, with a warning, and stays unregistered.
bool installDatabase(const QString& sourceFolder, const QString& targetFolder, const QString& fileName,
                     int id);
