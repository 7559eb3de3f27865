#pragma once

// Runs the real program in a fresh home folder and collects its log, for end-to-end tests.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class VelmoraProcess
{
public:
    VelmoraProcess()
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("HOME"), m_home.path());
        m_environment.insert(QStringLiteral("XDG_DATA_HOME"),
                             m_home.path() + QStringLiteral("/.local/share"));
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/.config"));
        m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path() + QStringLiteral("/.cache"));
        m_environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                             QStringLiteral("*.debug=true;qt.*.debug=false"));
        m_environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead,
                         [this] { m_log += QString::fromUtf8(m_process.readAll()); });
    }
    ~VelmoraProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString home() const { return m_home.path(); }
    QString dataFolder() const { return m_home.path() + QStringLiteral("/.local/share/velmora/Data"); }
    QProcessEnvironment& environment() { return m_environment; }
    QProcess& process() { return m_process; }

    void start(const QString& program = QStringLiteral(VELMORA_BINARY), const QStringList& arguments = {})
    {
        m_process.setProcessEnvironment(m_environment);
        m_process.setWorkingDirectory(m_home.path());
        m_process.start(program, arguments);
    }

    // Waits until the log holds `text`; false on time-out or when the program ended first.
    bool waitForLog(const QString& text, int milliseconds = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_log.contains(text)) {
            if (timer.elapsed() > milliseconds)
                return false;
            if (m_process.state() == QProcess::NotRunning) {
                m_log += QString::fromUtf8(m_process.readAll());
                return m_log.contains(text);
            }
            QTest::qWait(20);
        }
        return true;
    }

    // Waits for the end; the exit code as the shell sees it (-1 reads 255), or -2 on time-out.
    int waitForExit(int milliseconds = 20000)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(milliseconds))
            return -2;
        m_log += QString::fromUtf8(m_process.readAll());
        if (m_process.exitStatus() != QProcess::NormalExit)
            return -3;
        return m_process.exitCode();
    }

    void signal(int signalNumber) { ::kill(static_cast<pid_t>(m_process.processId()), signalNumber); }

    QString log() const { return m_log; }

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QString m_log;
};

// True where the X display with a tray host, which scripts/test provides, is there.
inline bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

// True when each of `texts` appears in `log` after the one before it.
inline bool inOrder(const QString& log, const QStringList& texts)
{
    int previous = -1;
    for (const QString& text : texts) {
        const int at = log.indexOf(text, previous + 1);
        if (at <= previous)
            return false;
        previous = at;
    }
    return true;
}
