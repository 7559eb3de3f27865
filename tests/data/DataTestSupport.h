#pragma once

// Shared by the data tests: an application context pointing at temporary folders, a log
// recorder, and helpers to install and release the databases within one test process.

#include "app/ApplicationBase.h"
#include "data/AppService.h"
#include "data/ConfigService.h"
#include "data/MediaService.h"
#include "data/SqlDatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

// Program folder (with Data/ templates copied from the build) and user data folder, both temporary.
class TestContext final : public ApplicationBase
{
public:
    TestContext()
    {
        QDir(m_program.path()).mkpath(QStringLiteral("Data"));
        const QString templates = QStringLiteral(VELMORA_BUILD_DIR "/Data/");
        for (const char* name : {"cfg.db", "log.db", "data.db"})
            QFile::copy(templates + QLatin1String(name),
                        templateFolder() + QLatin1Char('/') + QLatin1String(name));
        ApplicationBase::setInstance(this);
    }
    ~TestContext() override { ApplicationBase::setInstance(nullptr); }

    QString applicationDirPath() const override { return m_program.path(); }
    QString writableLocation() const override { return m_home.path() + QStringLiteral("/velmora"); }
    QSize defaultWindowSize() const override { return QSize(1280, 758); }
    void setMainWindowRect(const QRect& rect) override { m_rect = rect; }
    QRect mainWindowRect() const override { return m_rect; }

    QString templateFolder() const { return m_program.path() + QStringLiteral("/Data"); }
    QString liveFolder() const { return writableLocation() + QStringLiteral("/Data"); }
    QString templatePath(const QString& name) const { return templateFolder() + QLatin1Char('/') + name; }
    QString livePath(const QString& name) const { return liveFolder() + QLatin1Char('/') + name; }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_home;
    QRect m_rect;
};

// Records every log message while it exists.
class LogCapture
{
public:
    LogCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    QStringList messages(QtMsgType type) const
    {
        QStringList result;
        for (const auto& entry : m_entries)
            if (entry.first == type)
                result << entry.second;
        return result;
    }
    QStringList daoErrors() const
    {
        return messages(QtDebugMsg).filter(QStringLiteral("**Debug** Dao Error: "));
    }
    QStringList all() const
    {
        QStringList result;
        for (const auto& entry : m_entries)
            result << entry.second;
        return result;
    }
    void clear() { m_entries.clear(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (s_current)
            s_current->m_entries.append(qMakePair(type, message));
    }

    static inline LogCapture* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QList<QPair<QtMsgType, QString>> m_entries;
};

// What start-up does in phase A, against the current context.
inline bool startDatabases()
{
    SqlDatabase::createRegistry();
    return openDatabases();
}

// Ends one simulated run, so that the next can open the same connection names afresh.
inline void releaseDatabases()
{
    SqlDatabase::destroyRegistry();
    // The services keep the statement of their last operation; point it away from the connections
    // so that these can be removed without Qt complaining that they are still in use.
    QList<std::shared_ptr<DesktopApp>> apps;
    QList<std::shared_ptr<MediaFolder>> folders;
    QList<std::shared_ptr<Dict>> dicts;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    AppService::instance()->selectAll(apps);
    MediaService::instance()->selectAll(folders);
    ConfigService::instance()->selectAll(dicts);
    qInstallMessageHandler(previous);
    for (const char* name : {"cfg.db", "log.db", "data.db"})
        QSqlDatabase::removeDatabase(QLatin1String(name));
}

// Runs one statement on a registered connection, outside the stores.
inline bool execOn(int id, const QString& sql)
{
    QSqlQuery query(SqlDatabase::database(id));
    return query.exec(sql);
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}
