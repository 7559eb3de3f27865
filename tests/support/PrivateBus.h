#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// A session bus of the test's own. Its configuration names only the service folder the test
// gives (or none), never the machine's own service folders: on a desktop with portals or the
// accessibility bus installed, a plain `dbus-daemon --session` would start those services on
// the test's bus, under names the test means to own itself.
class PrivateBus
{
public:
    // `serviceDir`: .service files the bus may activate; empty for none.
    explicit PrivateBus(const QString& serviceDir = QString())
        : m_serviceDir(serviceDir)
    {
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    static QString daemon() { return QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")); }

    // Starts the daemon and waits for its address; an empty `error` means it runs.
    bool start(QString* error)
    {
        if (!m_dir.isValid() || daemon().isEmpty()) {
            *error = QStringLiteral("dbus-daemon is not installed (Debian package dbus-daemon)");
            return false;
        }
        const QString config = m_dir.filePath(QStringLiteral("session.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot write the bus configuration");
            return false;
        }
        file.write(configuration(m_dir.path(), m_serviceDir).toUtf8());
        file.close();
        m_process.start(daemon(), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!m_process.waitForStarted(5000) ||
            !QTest::qWaitFor([this] { return m_process.canReadLine(); }, 10000)) {
            *error = QStringLiteral("dbus-daemon did not start: ") +
                     QString::fromUtf8(m_process.readAllStandardError());
            return false;
        }
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
        return !m_address.isEmpty();
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString address() const { return m_address; }

    // Starts the stand-in service `program` on this bus; each line it prints lands in `lines`,
    // and it is up once it has printed "ready".
    bool startService(QProcess* service, const QString& program, QStringList* lines) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        service->setProcessEnvironment(env);
        service->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(service, &QProcess::readyReadStandardOutput, service, [service, lines] {
            while (service->canReadLine())
                *lines << QString::fromUtf8(service->readLine()).trimmed();
        });
        service->start(program, QStringList());
        return QTest::qWaitFor([lines] { return lines->contains(QStringLiteral("ready")); }, 5000);
    }

    // The configuration of a session bus that listens in `socketDir` and activates only what
    // `serviceDir` holds.
    static QString configuration(const QString& socketDir, const QString& serviceDir)
    {
        QString services;
        if (!serviceDir.isEmpty())
            services = QStringLiteral("  <servicedir>%1</servicedir>\n").arg(serviceDir.toHtmlEscaped());
        return QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>session</type>\n"
                   "  <listen>unix:dir=%1</listen>\n"
                   "  <auth>EXTERNAL</auth>\n"
                   "%2"
                   "  <policy context=\"default\">\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n")
            .arg(socketDir.toHtmlEscaped(), services);
    }

private:
    QString m_serviceDir;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_address;
};
