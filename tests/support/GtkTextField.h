#pragma once

// A real GTK text field (tests/support/gtk-text-field.py) on the test's display, X11 or
// Wayland: what is typed or pasted into it is read back as the field's whole text.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

class GtkTextField
{
public:
    // `backend`: "x11" or "wayland"; `at`: where the window goes (X11 without a window manager);
    // `env`: the field's environment (the display it goes to).
    explicit GtkTextField(const QString& backend, const QPoint& at = QPoint(300, 500),
                          QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
    {
        env.insert(QStringLiteral("GDK_BACKEND"), backend);
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        // GTK will not even try Wayland without a runtime folder (WAYLAND_DISPLAY is a full path).
        if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR")))
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                m_ready = m_ready || line == "ready";
                if (line == "text" || line.startsWith("text ")) // an empty field's line is trimmed
                    m_text = QString::fromUtf8(QByteArray::fromHex(line.mid(5)));
            }
        });
        m_process.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(GTK_TEXT_FIELD), m_title, QString::number(at.x()), QString::number(at.y())});
    }
    ~GtkTextField()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    GtkTextField(const GtkTextField&) = delete;
    GtkTextField& operator=(const GtkTextField&) = delete;

    static bool available()
    {
        return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                 {QStringLiteral("-c"),
                                  QStringLiteral("import gi; gi.require_version('Gtk', '3.0')")}) == 0;
    }

    // 200 characters, runs of the layout's and of others taking turns; every fourth run of
    // others has 30 distinct characters, more than X has spare keys.
    static QString mixedText()
    {
        QString mixed;
        for (int i = 0; mixed.size() < 200; ++i) {
            const int run = i % 8 == 3 ? 30 : 1 + i % 7;
            for (int j = 0; j < run && mixed.size() < 200; ++j)
                mixed += i % 2 == 0 ? QChar(u'a' + (i + j) % 26)
                                    : QChar(i % 4 == 1 ? 0x4e00 + i * 40 + j : 0xe0 + j);
        }
        return mixed;
    }

    bool isReady() const { return m_ready; }
    QString title() const { return m_title; }
    QString text() const { return m_text; }

private:
    QTemporaryDir m_runtime;
    QString m_title = QStringLiteral("text-field-") + QUuid::createUuid().toString(QUuid::Id128);
    QProcess m_process;
    bool m_ready = false;
    QString m_text;
};
