#pragma once

#include "platform/files/FileIdentity.h"
#include "web/HttpRoute.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class FileResponseCache;

// GET: the web client's files, from the installed "mobile" folders and nothing that a name or
// a link leads out of them to. Recently served files are answered from a cache.
class StaticFileRoute final : public HttpRoute
{
public:
    explicit StaticFileRoute(std::function<qint64()> nowMs);
    ~StaticFileRoute() override;

    bool matches(const HttpRequest& request) const override;
    void handle(const HttpRequest& request, HttpExchange& exchange) override;

    void setClientFolders(const QStringList& folders) { m_clientFolders = folders; }
    QStringList clientFolders() const { return m_clientFolders; }
    static QStringList defaultClientFolders();
    FileResponseCache& fileCache() { return *m_fileCache; }
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }

    // Sends the open file `fileName` (already checked to be `seen`) as a whole 200 answer.
    void sendFile(HttpExchange& exchange, const QString& fileName, const QString& absolute,
                  const FileIdentity& seen);

private:
    // The found file's name as searched (empty when none), its absolute name and its identity.
    QString findFile(const QString& path, bool logging, QString* absolute, FileIdentity* identity) const;
    bool isInsideFolder(const QString& folder, const QString& relative) const;
    // The folder's canonical name, resolved again whenever the name leads to another directory.
    QString folderRoot(const QString& folder) const;

    QStringList m_clientFolders;
    std::unique_ptr<FileResponseCache> m_fileCache;
    std::function<qint64()> m_nowMs;
    mutable QHash<QString, std::pair<FileIdentity, QString>> m_folderRoots;
};
