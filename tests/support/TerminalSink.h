#pragma once

// A real terminal whose shell copies every byte it receives, unprocessed, into a file: what is
// typed into the terminal can be read back exactly. xterm on an X display without a window
// manager takes the keyboard focus by xdotool; xterm under XWayland and foot (Wayland) get it
// from the compositor as new windows.

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

class TerminalSink
{
public:
    enum Terminal
    {
        XTerm,        // focused by xdotool
        XTermManaged, // focused by the display's window manager (XWayland's compositor)
        Foot,
    };

    // The terminal's window, in screen pixels (80 columns by 24 lines of the default font fit);
    // `env` is the terminal's environment (the display it goes to).
    explicit TerminalSink(Terminal terminal = XTerm,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                          const QRect& window = QRect(1100, 600, 600, 400))
        : m_terminal(terminal)
        , m_env(env)
        , m_window(window)
    {
    }
    ~TerminalSink()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill(), m_process.waitForFinished(3000);
    }
    TerminalSink(const TerminalSink&) = delete;
    TerminalSink& operator=(const TerminalSink&) = delete;

    static bool available(Terminal terminal = XTerm)
    {
        const auto has = [](const char* tool) {
            return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty();
        };
        if (terminal == Foot)
            return has("foot");
        return has("xterm") && (terminal == XTermManaged || has("xdotool"));
    }

    // Starts the terminal, waits until its shell is copying and gives it the keyboard.
    bool start()
    {
        if (!m_dir.isValid())
            return false;
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Raw mode: no line editing, no signals, no echo; a Return arrives as a carriage return.
        // Appending: bytes still land at the end after clear().
        const QStringList reader{QStringLiteral("sh"), QStringLiteral("-c"),
                                 QStringLiteral("stty raw -echo; : >\"$0\"; exec cat >>\"$0\""), path()};
        if (m_terminal == Foot) {
            // A configuration of its own, not the user's: the default font and keys.
            const QString config = m_dir.filePath(QStringLiteral("foot.ini"));
            QFile file(config);
            if (!file.open(QIODevice::WriteOnly) || file.write("[main]\nfont=monospace:size=10\n") < 0)
                return false;
            file.close();
            m_process.start(QStringLiteral("foot"), QStringList{QStringLiteral("--config=") + config,
                                                                QStringLiteral("--title=") + m_title} +
                                                        reader);
        } else {
            m_process.start(QStringLiteral("xterm"),
                            QStringList{QStringLiteral("-u8"), QStringLiteral("-T"), m_title,
                                        QStringLiteral("-geometry"),
                                        QStringLiteral("80x24+%1+%2").arg(m_window.x()).arg(m_window.y()),
                                        QStringLiteral("-e")} +
                                reader);
        }
        if (!m_process.waitForStarted(5000) ||
            !spinUntil([this] { return QFileInfo::exists(path()); }, 10000))
            return false;
        if (m_terminal != XTerm)
            return true;
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
    Terminal m_terminal;
    QProcessEnvironment m_env;
    QRect m_window;
    QString m_title = QStringLiteral("typing-sink-") + QUuid::createUuid().toString(QUuid::Id128);
    QTemporaryDir m_dir;
    QProcess m_process;
};
