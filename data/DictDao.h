#pragma once

#include "data/Dao.h"
#include "data/Dict.h"

#include <QList>

#include <memory>

// Reads and writes the dict table of cfg.db. Rows are never deleted.
class DictDao : public Dao
{
public:
    // Sets the record's dictId to the new row's on success.
    bool insert(std::shared_ptr<Dict> dict);
    bool update(std::shared_ptr<Dict> dict);
    // Replaces `dicts` with every row, by dictId; leaves it untouched on failure.
    void selectAll(QList<std::shared_ptr<Dict>>& dicts);
};
