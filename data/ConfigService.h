#pragma once

#include "data/DictDao.h"

#include <QHash>

// The dict table cached by name; every write through here updates the cache and the database.
class ConfigService : public DictDao
{
public:
    static ConfigService* instance();

    // Rereads every row; when a name repeats, the row with the higher dictId wins.
    void load();
    // The cached value, or `defaultValue` when there is no entry or its value is empty.
    QString value(const QString& key, const QString& defaultValue) const;
    // Stores `value` (or `defaultValue` when `value` is empty) in the cache and the database.
    // The cache keeps the new value even when the database write fails.
    void setValue(const QString& key, const QString& value, const QString& defaultValue);

private:
    QHash<QString, std::shared_ptr<Dict>> m_dicts;
};
