#pragma once

#include <QLockFile>
#include <QObject>
#include <QScopedPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// One address a phone can open the web client on: the link (with the pairing token in its
// fragment) and the adapter it belongs to.
struct PairingLink
{
    QString url;
    QString label;
};

// One running copy per user and data folder. The first start holds a lock file and listens on a
// local socket beside it; a later start finds the lock taken and asks, over the socket, for the
// running copy's window instead of fighting over the ports. Both live in the user's runtime
// folder, which only the user can enter. The same channel hands a later `velmora --pair` the
// web client's links, so both ends also check that the other runs as the same user.
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

    // The running copy's answer to `velmora --pair`.
    using LinksProvider = std::function<QList<PairingLink>()>;
    void setPairingLinksProvider(LinksProvider provider) { m_linksProvider = std::move(provider); }
    // Asks the running copy for its pairing links. False when no copy of this user runs (or it
    // does not answer in time, or answers with something else); `links` may then be empty.
    bool requestPairingLinks(QList<PairingLink>* links, int timeoutMs = 5000);

    // The running copy's answer to `velmora --send`: offers the files to the phone and says how
    // many it offered.
    using FileOfferHandler = std::function<int(const QStringList& paths)>;
    void setFileOfferHandler(FileOfferHandler handler) { m_fileOfferHandler = std::move(handler); }
    // Asks the running copy to offer `paths` (absolute) to the phone. False when no copy of this
    // user runs or answers; `offered` then stays -1.
    bool requestFileOffer(const QStringList& paths, int* offered, int timeoutMs = 5000);
    // Files one request may name at most, and the bytes of the request.
    static constexpr int MaxOfferedFiles = 256;
    static constexpr int MaxOfferRequestBytes = 256 * 1024;

    // Whether the other end of a local socket is this user; replaceable for tests.
    using PeerCheck = std::function<bool(qintptr socketDescriptor)>;
    void setPeerCheck(PeerCheck check) { m_peerCheck = std::move(check); }

    QString socketPath() const { return m_socketPath; }

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    void onNewConnection();
    void answer(QLocalSocket* socket);
    // Sends `request` to the running copy of this user and reads until `complete` holds (at most
    // `maxReply` bytes); false when there is no such copy or it answers with something else.
    bool askRunningCopy(const QByteArray& request, int maxReply,
                        const std::function<bool(const QByteArray&)>& complete, QByteArray* reply,
                        int timeoutMs);

    QString m_socketPath;
    QLockFile m_lock;
    QScopedPointer<QLocalServer> m_server;
    void answerFileOffer(QLocalSocket* socket);

    LinksProvider m_linksProvider;
    FileOfferHandler m_fileOfferHandler;
    PeerCheck m_peerCheck;
};
