#pragma once

#include "data/UserButtonDao.h"

#include <QJsonObject>
#include <QVector>

#include <optional>

// The keys a button presses: `hold` goes down first and stays down while each step, a
// combination, is pressed and released in turn ("Alt" held while "Tab" is tapped twice). A
// plain shortcut is one step and nothing held. Key codes are the phone's virtual-key codes.
struct ButtonKeys
{
    QVector<int> hold;
    QVector<QVector<int>> steps;

    bool operator==(const ButtonKeys& other) const { return hold == other.hold && steps == other.steps; }
};

// The user's buttons cached in their order. Every change goes through here, is checked, and
// reaches the database and the cache together: the cache never holds what was not stored.
class UserButtonService : public UserButtonDao
{
public:
    static constexpr int MaxButtons = 64;
    static constexpr int MaxLabelChars = 32;
    static constexpr int MaxHoldKeys = 4;
    static constexpr int MaxSteps = 16;
    static constexpr int MaxStepKeys = 4;

    enum class Result
    {
        Ok,
        BadLabel,
        BadKeys,
        TooMany,
        Unknown,
        StoreFailed,
    };

    static UserButtonService* instance();

    // Adds the table to an older database if need be, then rereads every row.
    void load();
    const QList<std::shared_ptr<UserButton>>& buttons() const { return m_buttons; }
    std::shared_ptr<UserButton> find(int id) const;

    // Appends a button; `id` receives its key.
    Result add(const QString& label, const ButtonKeys& keys, int* id = nullptr);
    Result edit(int id, const QString& label, const ButtonKeys& keys);
    Result removeButton(int id);
    // Moves the button to position `to` (clamped to the list), renumbering the order.
    Result move(int id, int to);

    // The label as stored (trimmed), or nothing when it is empty, too long or holds control
    // characters or broken UTF-16.
    static std::optional<QString> checkedLabel(const QString& label);
    // The keys from the phone's "hold" and "steps" members, or nothing when they break a bound.
    static std::optional<ButtonKeys> parseKeys(const QJsonObject& object);
    static QJsonObject keysToJson(const ButtonKeys& keys);
    // The keys of a stored record; nothing when the column does not hold valid keys.
    static std::optional<ButtonKeys> storedKeys(const UserButton& button);

private:
    QList<std::shared_ptr<UserButton>> m_buttons;
};
