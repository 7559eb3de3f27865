#pragma once

// Shared by the data, media and page tests: a context over temporary program and home folders, a
// log recorder, and database starts and ends so that one process can simulate several runs.

#include "app/ApplicationBase.h"
#include "data/AppService.h"
#include "data/ConfigService.h"
#include "data/MediaService.h"
#include "data/SqlDatabase.h"
#include "data/UserButtonService.h"
#include "support/LogCapture.h"

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
        return m_program.filePath(QStringLiteral("Data/") + name);
    }
    QString livePath(const QString& name) const { return liveFolder() + QLatin1Char('/') + name; }
    // Hidden files too, so that a left-over temporary copy shows.
    QStringList liveFiles() const { return QDir(liveFolder()).entryList(QDir::Files | QDir::Hidden); }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_home;
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
    // The services hold the statement of their last operation; replace it, silently, so that the
    // connections can be removed without Qt's "still in use" complaint.
    LogCapture silence;
    for (Dao* dao : std::initializer_list<Dao*>{AppService::instance(), MediaService::instance(),
                                                ConfigService::instance(), UserButtonService::instance()})
        dao->prepare(QSqlQuery(QSqlDatabase()), QString());
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
