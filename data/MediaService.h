#pragma once

#include "data/MediaFolderDao.h"

// The registered media folders as the phone sees them: a snapshot read at start-up and again
// only when the user applies the media library.
class MediaService : public MediaFolderDao
{
public:
    static MediaService* instance();

    // A failed read keeps the previous snapshot.
    void load();
    QList<std::shared_ptr<MediaFolder>>& folders() { return m_folders; }

private:
    QList<std::shared_ptr<MediaFolder>> m_folders;
};
