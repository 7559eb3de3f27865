#pragma once

// An application context over temporary folders, for programs that show the real main window
// without touching the user's data: a program folder holding copies of the built template
// databases, an empty data folder, a private settings store and Qt's test-mode standard paths.
// The including target defines VELMORA_BUILD_DIR, the build folder whose Data/ holds the templates.

#include "app/ApplicationBase.h"
#include "data/SqlDatabase.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

class ScratchContext final : public ApplicationBase
{
public:
    explicit ScratchContext(const QSize& windowSize)
        : m_windowSize(windowSize)
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        QDir(m_program.path()).mkpath(QStringLiteral("Data"));
        for (const QString name : {"cfg.db", "log.db", "data.db"})
            QFile::copy(QStringLiteral(VELMORA_BUILD_DIR "/Data/") + name,
                        m_program.path() + QStringLiteral("/Data/") + name);
    }
    ~ScratchContext() override
    {
        if (m_registryCreated)
            SqlDatabase::destroyRegistry();
        if (ApplicationBase::instance() == this)
            ApplicationBase::setInstance(nullptr);
    }

    // Makes this the process's context and opens its databases; false when they cannot be opened.
    bool open()
    {
        ApplicationBase::setInstance(this);
        SqlDatabase::createRegistry();
        m_registryCreated = true;
        return openDatabases();
    }

    QString applicationDirPath() const override { return m_program.path(); }
    QString writableLocation() const override { return m_home.path(); }
    QSize defaultWindowSize() const override { return m_windowSize; }
    void setMainWindowRect(const QRect& rect) override { m_rect = rect; }
    QRect mainWindowRect() const override { return m_rect; }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_home;
    QTemporaryDir m_settings;
    QSize m_windowSize;
    QRect m_rect;
    bool m_registryCreated = false;
};
