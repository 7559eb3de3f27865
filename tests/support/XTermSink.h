#pragma once

// A real terminal (xterm) whose shell copies every byte it receives, unprocessed, into a file:
// what is typed into the terminal can be read back exactly. It takes the keyboard focus when
// it starts (xdotool).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <functional>

class XTermSink
{
public:
    // The terminal's window, in screen pixels (80 columns by 24 lines of the default font fit).
    explicit XTermSink(const QRect& window = QRect(1100, 600, 600, 400))
        : m_window(window)
    {
    }
    ~XTermSink()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill(), m_process.waitForFinished(3000);
    }
    XTermSink(const XTermSink&) = delete;
    XTermSink& operator=(const XTermSink&) = delete;

    static bool available()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("xterm")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
    }

    // Starts the terminal, waits until its shell is copying and gives it the keyboard.
    bool start()
    {
        if (!m_dir.isValid())
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Raw mode: no line editing, no signals, no echo; a Return arrives as a carriage return.
        // Appending: bytes still land at the end after clear().
        m_process.start(QStringLiteral("xterm"),
                        {QStringLiteral("-u8"), QStringLiteral("-T"), m_title, QStringLiteral("-geometry"),
                         QStringLiteral("80x24+%1+%2").arg(m_window.x()).arg(m_window.y()),
                         QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                         QStringLiteral("stty raw -echo; : >\"$0\"; exec cat >>\"$0\""), path()});
        if (!m_process.waitForStarted(5000) ||
            !spinUntil([this] { return QFileInfo::exists(path()); }, 10000))
            return false;
        // Without a window manager the focus stays where it was put last.
        return QProcess::execute(QStringLiteral("xdotool"),
                                 {QStringLiteral("search"), QStringLiteral("--sync"),
                                  QStringLiteral("--name"), QLatin1Char('^') + m_title + QLatin1Char('$'),
                                  QStringLiteral("windowfocus"), QStringLiteral("--sync")}) == 0;
    }

    QPoint center() const { return m_window.topLeft() + QPoint(100, 60); }
    QString path() const { return m_dir.filePath(QStringLiteral("typed")); }
    qint64 size() const { return QFileInfo(path()).size(); }
    QByteArray contents() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void clear() const { QFile::resize(path(), 0); }

    // What the terminal receives for `text`: its UTF-8, with each line feed typed as Return.
    static QByteArray expectedBytes(const QString& text) { return text.toUtf8().replace('\n', '\r'); }

    // Runs the event loop until `done` or the time is up; true when done.
    static bool spinUntil(const std::function<bool()>& done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::usleep(200);
        }
        return true;
    }

private:
    QRect m_window;
    QString m_title = QStringLiteral("typing-sink-") + QUuid::createUuid().toString(QUuid::Id128);
    QTemporaryDir m_dir;
    QProcess m_process;
};
