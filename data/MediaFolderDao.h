#pragma once

#include "data/Dao.h"
#include "data/MediaFolder.h"

#include <QList>

#include <memory>

// Reads and writes the MediaFolder table of data.db.
class MediaFolderDao : public Dao
{
public:
    // Sets the record's id to the new row's on success.
    bool insert(std::shared_ptr<MediaFolder> folder);
    bool update(std::shared_ptr<MediaFolder> folder);
    bool remove(int id);
    // Replaces `folders` with every row, by sortNum then id; leaves it untouched on failure.
    void selectAll(QList<std::shared_ptr<MediaFolder>>& folders);
};
