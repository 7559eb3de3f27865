#pragma once

#include "data/Dao.h"
#include "data/DesktopApp.h"

#include <QList>

#include <memory>

// Reads and writes the DesktopApp table of data.db.
class DesktopAppDao : public Dao
{
public:
    // Sets the record's id to the new row's on success.
    bool insert(std::shared_ptr<DesktopApp> app);
    bool update(std::shared_ptr<DesktopApp> app);
    bool remove(int id);
    // Replaces `apps` with every row, by sortNum then id; leaves it untouched on failure.
    void selectAll(QList<std::shared_ptr<DesktopApp>>& apps);
};
