#include "data/ConfigService.h"

#include "data/ServiceInstance.h"

ConfigService* ConfigService::instance()
{
    return ServiceInstance<ConfigService>::get();
}

void ConfigService::load()
{
    m_dicts.clear();
    QList<std::shared_ptr<Dict>> dicts;
    selectAll(dicts);
    // Ascending dictId: a later row with the same name replaces the earlier one.
    for (const auto& dict : qAsConst(dicts))
        m_dicts.insert(dict->dictName(), dict);
}

QString ConfigService::value(const QString& key, const QString& defaultValue) const
{
    const auto it = m_dicts.constFind(key);
    if (it == m_dicts.constEnd())
        return defaultValue;
    const QString stored = it.value()->dictValue();
    return stored.isEmpty() ? defaultValue : stored;
}

void ConfigService::setValue(const QString& key, const QString& value, const QString& defaultValue)
{
    const QString toStore = value.isEmpty() ? defaultValue : value;
    const auto it = m_dicts.constFind(key);
    if (it != m_dicts.constEnd()) {
        const std::shared_ptr<Dict>& dict = it.value();
        dict->setDictValue(toStore);
        // A cached entry without a key is one whose insert failed earlier; an update would match
        // no row and report success, so the value would silently never reach the database.
        if (dict->dictId() > 0)
            update(dict);
        else
            insert(dict);
        return;
    }
    auto dict = std::make_shared<Dict>();
    dict->setDictName(key);
    dict->setDictValue(toStore);
    dict->setDictDesc(key);
    dict->setSortNum(0);
    insert(dict);
    m_dicts.insert(key, dict);
}
