#pragma once

#include <QLockFile>
#include <QObject>
#include <QScopedPointer>
#include <QString>

class QLocalServer;

// One running copy per user and data folder. The first start holds a lock file and listens on a
// local socket beside it; a later start finds the lock taken and asks, over the socket, for the
// running copy's window instead of fighting over the ports. Both live in the user's runtime
// folder, which only the user can enter.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // `dataFolder` is the folder this copy keeps its databases in: copies with other data (another
    // home, another executable name) are other instances.
    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
    explicit SingleInstance(const QString& dataFolder, const QString& runtimeFolder,
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first copy: it now holds the lock and listens for later starts. A lock
    // that cannot be judged at all (no runtime folder) also counts as first: better two copies than
    // none.
    bool claim();
    // The later start: asks the running copy to show its window; true once it has confirmed.
    bool activateRunning(int timeoutMs = 5000);

    QString socketPath() const { return m_socketPath; }

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    void onNewConnection();

    QString m_socketPath;
    QLockFile m_lock;
    QScopedPointer<QLocalServer> m_server;
};
