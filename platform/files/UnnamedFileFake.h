#pragma once

#include "platform/files/UnnamedFile.h"

#include <QStringList>

#include <functional>

// Writes through the platform's own file, recording the names it is linked as; before each link
// `beforeLink` runs with the name, so a test can take the name at the last moment.
class UnnamedFileFake final : public UnnamedFile
{
public:
    using Hook = std::function<void(const QString& folder, const QString& name)>;

    explicit UnnamedFileFake(Hook beforeLink, QStringList* tried = nullptr)
        : m_file(createUnnamedFile())
        , m_beforeLink(std::move(beforeLink))
        , m_tried(tried)
    {
    }

    bool create(const QString& folder) override
    {
        m_folder = folder;
        return m_file->create(folder);
    }
    bool write(const char* data, qint64 size) override { return m_file->write(data, size); }
    bool sync() override { return m_file->sync(); }
    Link link(const QString& name) override
    {
        if (m_tried)
            m_tried->append(name);
        if (m_beforeLink)
            m_beforeLink(m_folder, name);
        return m_file->link(name);
    }
    QString errorString() const override { return m_file->errorString(); }

private:
    std::unique_ptr<UnnamedFile> m_file;
    Hook m_beforeLink;
    QStringList* m_tried;
    QString m_folder;
};
