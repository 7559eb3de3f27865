#pragma once

#include <QHash>
#include <QList>
#include <QString>

// Shares a bounded pool of waiting items (sockets) between peer addresses. An address holds at
// most `perAddress` of them. When the pool is full, a newcomer still gets in if some address
// holds more than the newcomer does: that address's oldest item makes room. So strangers that
// fill the pool from many addresses cannot keep another address out, and no address can take
// more than its own share.
template <typename Item> class AddressQuota final
{
public:
    enum class Verdict
    {
        Admit,
        AdmitAfterEvicting, // the item named goes first (the caller removes and closes it)
        Refuse,
    };

    AddressQuota(int perAddress, int total)
        : m_perAddress(perAddress)
        , m_total(total)
    {
    }

    Verdict admit(const QString& address, Item* evict) const
    {
        const int held = countFor(address);
        if (held >= m_perAddress)
            return Verdict::Refuse;
        if (size() < m_total)
            return Verdict::Admit;
        // The address holding the most; among equals the one whose oldest item is oldest.
        const QList<Entry>* fullest = nullptr;
        for (auto it = m_byAddress.cbegin(); it != m_byAddress.cend(); ++it) {
            if (fullest == nullptr || it->size() > fullest->size() ||
                (it->size() == fullest->size() && it->first().order < fullest->first().order))
                fullest = &*it;
        }
        if (fullest == nullptr || fullest->size() <= held)
            return Verdict::Refuse;
        *evict = fullest->first().item;
        return Verdict::AdmitAfterEvicting;
    }

    void add(const QString& address, Item item)
    {
        m_byAddress[address].append({item, m_nextOrder++});
        m_addressOf.insert(item, address);
    }

    // False when the item was not (or no longer) held.
    bool remove(Item item)
    {
        const auto found = m_addressOf.find(item);
        if (found == m_addressOf.end())
            return false;
        const auto entries = m_byAddress.find(*found);
        for (int i = 0; i < entries->size(); ++i) {
            if (entries->at(i).item == item) {
                entries->removeAt(i);
                break;
            }
        }
        if (entries->isEmpty())
            m_byAddress.erase(entries);
        m_addressOf.erase(found);
        return true;
    }

    bool contains(Item item) const { return m_addressOf.contains(item); }
    QString addressOf(Item item) const { return m_addressOf.value(item); }
    int size() const { return m_addressOf.size(); }
    int countFor(const QString& address) const { return m_byAddress.value(address).size(); }

private:
    struct Entry
    {
        Item item;
        quint64 order;
    };

    int m_perAddress;
    int m_total;
    quint64 m_nextOrder = 0;
    QHash<QString, QList<Entry>> m_byAddress; // oldest first
    QHash<Item, QString> m_addressOf;
};
