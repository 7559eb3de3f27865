#include "data/SqlDatabase.h"

#include "app/ApplicationBase.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSqlError>
#include <QStringList>

namespace {

using Registry = QHash<int, std::shared_ptr<SqlDatabase>>;

Registry* g_registry = nullptr;

// Answered for every id that is not registered; statements on it fail and are reported.
QSqlDatabase g_invalidDatabase;

// Writes the copy under a temporary name in the target folder and renames it into place only
// once it is complete and flushed, so an interrupted first start never leaves a truncated live
// database behind that later starts would take as installed. The copy gets fresh permissions
// rather than the template's, so a read-only template still yields a writable live database.
bool copyFileAtomically(const QString& sourcePath, const QString& targetPath)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    QSaveFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly))
        return false;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 count = source.read(buffer, sizeof buffer);
        if (count < 0) {
            target.cancelWriting();
            break;
        }
        if (count == 0)
            break;
        if (target.write(buffer, count) != count) {
            target.cancelWriting();
            break;
        }
    }
    return target.commit();
}

} // namespace

SqlDatabase::SqlDatabase(QObject* parent)
    : QObject(parent)
{
}

bool SqlDatabase::open(const QString& path)
{
    m_connectionName = QFileInfo(path).fileName();
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_database.setDatabaseName(path);
    if (!m_database.isValid() || !m_database.open())
        return false;
    if (m_database.tables(QSql::Tables).isEmpty()) {
        // Nothing uses this connection; release the file rather than hold it for the whole run.
        m_database.close();
        return false;
    }
    return true;
}

void SqlDatabase::createRegistry()
{
    if (!g_registry)
        g_registry = new Registry();
}

void SqlDatabase::registerDatabase(int id, std::shared_ptr<SqlDatabase> database)
{
    if (!g_registry)
        return;
    g_registry->insert(id, std::move(database));
}

QSqlDatabase& SqlDatabase::database(int id)
{
    if (!g_registry)
        return g_invalidDatabase;
    const auto it = g_registry->constFind(id);
    if (it == g_registry->constEnd() || !it.value())
        return g_invalidDatabase;
    return it.value()->m_database;
}

void SqlDatabase::destroyRegistry()
{
    delete g_registry;
    g_registry = nullptr;
}

bool openDatabases()
{
    const ApplicationBase* app = ApplicationBase::instance();
    if (!app) {
        qWarning() << "No application context: the databases cannot be located";
        return false;
    }
    const QString sourceFolder = templateFolder(app->applicationDirPath());
    const QString targetFolder = app->writableLocation() + QStringLiteral("/Data");
    qDebug().noquote() << QStringLiteral("Database path: ") + targetFolder;

    if (!installDatabase(sourceFolder, targetFolder, QStringLiteral("cfg.db"), SqlDatabase::Config))
        return false;
    if (!installDatabase(sourceFolder, targetFolder, QStringLiteral("log.db"), SqlDatabase::Log))
        return false;
    return installDatabase(sourceFolder, targetFolder, QStringLiteral("data.db"), SqlDatabase::Data);
}

QString templateFolder(const QString& programDir)
{
    const QString beside = programDir + QStringLiteral("/Data");
    if (QFileInfo(beside).isDir())
        return beside;
    // An installed program lives in bin/ and its templates with the other shared files; a folder
    // named Data in /usr/bin would be no place for them.
    const QString installed = QDir::cleanPath(programDir + QLatin1Char('/') +
                                              QStringLiteral(VELMORA_INSTALLED_TEMPLATES_FROM_BINARY));
    return QFileInfo(installed).isDir() ? installed : beside;
}

bool installDatabase(const QString& sourceFolder, const QString& targetFolder, const QString& fileName,
                     int id)
{
    const QString sourcePath = sourceFolder + QLatin1Char('/') + fileName;
    const QString targetPath = targetFolder + QLatin1Char('/') + fileName;

    if (!QFile::exists(targetPath)) {
        ApplicationBase::ensurePath(targetFolder);
        if (!QFile::exists(sourcePath)) {
            qWarning().noquote() << QStringLiteral("Database template missing: ") + sourcePath;
            return false;
        }
        if (!copyFileAtomically(sourcePath, targetPath)) {
            qWarning().noquote() << QStringLiteral("Database could not be installed: ") + targetPath;
            return false;
        }
    }

    auto database = std::make_shared<SqlDatabase>(nullptr);
    if (database->open(targetPath)) {
        SqlDatabase::registerDatabase(id, database);
    } else {
        // The user's file stays on disk untouched: it may hold data worth recovering, so it is
        // neither replaced by the template nor deleted. Statements on this id fail and are logged.
        qWarning().noquote() << QStringLiteral("Database cannot be used (not a database, or no tables); "
                                               "the file is left as it is: ") +
                                    targetPath;
    }
    return true;
}
