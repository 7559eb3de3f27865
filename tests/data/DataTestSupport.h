#pragma once

// Shared by the data tests: a context over temporary program and home folders, a log recorder,
// and the install/release of the databases so that one process can simulate several starts.

#include "app/ApplicationBase.h"
#include "data/AppService.h"
#include "data/ConfigService.h"
#include "data/MediaService.h"
#include "data/SqlDatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

class TestContext final : public ApplicationBase
{
public:
    TestContext()
    {
        QDir(m_program.path()).mkpath(QStringLiteral("Data"));
        for (const QString name : {"cfg.db", "log.db", "data.db"})
            QFile::copy(QStringLiteral(VELMORA_BUILD_DIR "/Data/") + name, templatePath(name));
        ApplicationBase::setInstance(this);
    }
    ~TestContext() override { ApplicationBase::setInstance(nullptr); }

    QString applicationDirPath() const override { return m_program.path(); }
    QString writableLocation() const override { return m_home.path() + QStringLiteral("/velmora"); }
    QSize defaultWindowSize() const override { return QSize(1280, 758); }
    void setMainWindowRect(const QRect&) override {}
    QRect mainWindowRect() const override { return QRect(); }

    QString liveFolder() const { return writableLocation() + QStringLiteral("/Data"); }
    QString templatePath(const QString& name) const
    {
        return m_program.path() + QStringLiteral("/Data/") + name;
    }
    QString livePath(const QString& name) const { return liveFolder() + QLatin1Char('/') + name; }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_home;
};

// Records every message of the given type while it exists (all others are dropped).
class LogCapture
{
public:
    explicit LogCapture(QtMsgType type = QtDebugMsg)
        : m_type(type)
    {
        s_current = this;
        m_previous =
            qInstallMessageHandler([](QtMsgType t, const QMessageLogContext&, const QString& message) {
                if (s_current && t == s_current->m_type)
                    s_current->m_messages << message;
            });
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList messages() const { return m_messages; }
    QStringList daoErrors() const { return m_messages.filter(QStringLiteral("**Debug** Dao Error: ")); }

private:
    static inline LogCapture* s_current = nullptr;
    QtMsgType m_type;
    QtMessageHandler m_previous = nullptr;
    QStringList m_messages;
};

inline bool startDatabases()
{
    SqlDatabase::createRegistry();
    return openDatabases();
}

// Ends one simulated run so that the next can open the same connection names afresh.
inline void releaseDatabases()
{
    SqlDatabase::destroyRegistry();
    // The services hold the statement of their last operation; aim it at the missing registry so
    // that the connections can be removed without Qt's "still in use" complaint.
    {
        LogCapture silence(QtFatalMsg);
        QList<std::shared_ptr<DesktopApp>> apps;
        QList<std::shared_ptr<MediaFolder>> folders;
        QList<std::shared_ptr<Dict>> dicts;
        AppService::instance()->selectAll(apps);
        MediaService::instance()->selectAll(folders);
        ConfigService::instance()->selectAll(dicts);
    }
    for (const QString name : {"cfg.db", "log.db", "data.db"})
        QSqlDatabase::removeDatabase(name);
}

inline bool execOn(int id, const QString& sql)
{
    return QSqlQuery(SqlDatabase::database(id)).exec(sql);
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
