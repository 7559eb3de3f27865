#pragma once

#include "data/Dao.h"
#include "data/UserButton.h"

#include <QList>

#include <memory>

// Reads and writes the UserButton table of data.db.
class UserButtonDao : public Dao
{
public:
    // Sets the record's id to the new row's on success.
    bool insert(std::shared_ptr<UserButton> button);
    bool update(std::shared_ptr<UserButton> button);
    bool remove(int id);
    // Replaces `buttons` with every row, by sortNum then id; leaves it untouched on failure.
    void selectAll(QList<std::shared_ptr<UserButton>>& buttons);
    // A data.db installed by an older version has no UserButton table; this adds it (and
    // nothing else), so that the user's existing lists are kept. True when the table exists.
    bool ensureTable();
};
