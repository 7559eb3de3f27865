#include "data/UserButtonService.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace {

std::shared_ptr<UserButtonService> g_instance = std::make_shared<UserButtonService>();

// Virtual-key codes run from 1 to 254; 0 and 255 are no key.
std::optional<int> keyCode(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < 1 || number > 254)
        return std::nullopt;
    return int(number);
}

// A combination of up to `max` distinct codes, none of them in `taken`.
std::optional<QVector<int>> codeList(const QJsonValue& value, int min, int max, const QVector<int>& taken)
{
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    if (array.size() < min || array.size() > max)
        return std::nullopt;
    QVector<int> codes;
    for (const QJsonValue& element : array) {
        const std::optional<int> code = keyCode(element);
        // The same key twice in one press would go down twice before it comes up.
        if (!code || codes.contains(*code) || taken.contains(*code))
            return std::nullopt;
        codes.append(*code);
    }
    return codes;
}

QJsonArray toArray(const QVector<int>& codes)
{
    QJsonArray array;
    for (int code : codes)
        array.append(code);
    return array;
}

} // namespace

UserButtonService* UserButtonService::instance()
{
    return g_instance.get();
}

void UserButtonService::load()
{
    ensureTable();
    selectAll(m_buttons);
}

std::shared_ptr<UserButton> UserButtonService::find(int id) const
{
    const auto it =
        std::find_if(m_buttons.cbegin(), m_buttons.cend(),
                     [id](const std::shared_ptr<UserButton>& button) { return button->id() == id; });
    return it == m_buttons.cend() ? nullptr : *it;
}

UserButtonService::Result UserButtonService::add(const QString& label, const ButtonKeys& keys, int* id)
{
    const std::optional<QString> name = checkedLabel(label);
    if (!name)
        return Result::BadLabel;
    if (!parseKeys(keysToJson(keys)))
        return Result::BadKeys;
    if (m_buttons.size() >= MaxButtons)
        return Result::TooMany;
    auto button = std::make_shared<UserButton>();
    button->setLabel(*name);
    button->setKeys(QString::fromUtf8(QJsonDocument(keysToJson(keys)).toJson(QJsonDocument::Compact)));
    button->setSortNum(m_buttons.isEmpty() ? 0 : m_buttons.last()->sortNum() + 1);
    if (!insert(button))
        return Result::StoreFailed;
    m_buttons.append(button);
    if (id)
        *id = button->id();
    return Result::Ok;
}

UserButtonService::Result UserButtonService::edit(int id, const QString& label, const ButtonKeys& keys)
{
    const std::shared_ptr<UserButton> cached = find(id);
    if (!cached)
        return Result::Unknown;
    const std::optional<QString> name = checkedLabel(label);
    if (!name)
        return Result::BadLabel;
    if (!parseKeys(keysToJson(keys)))
        return Result::BadKeys;
    // Written from a copy, so that a failed write leaves the cached record as stored.
    auto changed = std::make_shared<UserButton>();
    changed->setId(id);
    changed->setLabel(*name);
    changed->setKeys(QString::fromUtf8(QJsonDocument(keysToJson(keys)).toJson(QJsonDocument::Compact)));
    changed->setSortNum(cached->sortNum());
    if (!update(changed))
        return Result::StoreFailed;
    cached->setLabel(changed->label());
    cached->setKeys(changed->keys());
    return Result::Ok;
}

UserButtonService::Result UserButtonService::removeButton(int id)
{
    const std::shared_ptr<UserButton> cached = find(id);
    if (!cached)
        return Result::Unknown;
    if (!remove(id))
        return Result::StoreFailed;
    m_buttons.removeOne(cached);
    return Result::Ok;
}

UserButtonService::Result UserButtonService::move(int id, int to)
{
    const std::shared_ptr<UserButton> cached = find(id);
    if (!cached)
        return Result::Unknown;
    QList<std::shared_ptr<UserButton>> order = m_buttons;
    order.removeOne(cached);
    order.insert(std::clamp(to, 0, int(order.size())), cached);
    // Every position is written again: rows from before may share a sortNum.
    for (int i = 0; i < order.size(); ++i) {
        if (order.at(i)->sortNum() == i && m_buttons.at(i) == order.at(i))
            continue;
        auto changed = std::make_shared<UserButton>();
        changed->setId(order.at(i)->id());
        changed->setLabel(order.at(i)->label());
        changed->setKeys(order.at(i)->keys());
        changed->setSortNum(i);
        if (!update(changed)) {
            // Some rows may have moved: the cache follows the database, whatever it now holds.
            selectAll(m_buttons);
            return Result::StoreFailed;
        }
        order.at(i)->setSortNum(i);
    }
    m_buttons = order;
    return Result::Ok;
}

std::optional<QString> UserButtonService::checkedLabel(const QString& label)
{
    const QString trimmed = label.trimmed();
    if (trimmed.isEmpty() || !QStringView(trimmed).isValidUtf16())
        return std::nullopt;
    int characters = 0;
    for (int i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        if (c.isLowSurrogate())
            continue;
        ++characters;
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return std::nullopt;
    }
    if (characters > MaxLabelChars)
        return std::nullopt;
    return trimmed;
}

std::optional<ButtonKeys> UserButtonService::parseKeys(const QJsonObject& object)
{
    ButtonKeys keys;
    const QJsonValue hold = object.value(QLatin1String("hold"));
    if (!hold.isUndefined()) {
        const std::optional<QVector<int>> codes = codeList(hold, 0, MaxHoldKeys, {});
        if (!codes)
            return std::nullopt;
        keys.hold = *codes;
    }
    const QJsonValue steps = object.value(QLatin1String("steps"));
    if (!steps.isArray() || steps.toArray().isEmpty() || steps.toArray().size() > MaxSteps)
        return std::nullopt;
    for (const QJsonValue& step : steps.toArray()) {
        const std::optional<QVector<int>> codes = codeList(step, 1, MaxStepKeys, keys.hold);
        if (!codes)
            return std::nullopt;
        keys.steps.append(*codes);
    }
    return keys;
}

QJsonObject UserButtonService::keysToJson(const ButtonKeys& keys)
{
    QJsonArray steps;
    for (const QVector<int>& step : keys.steps)
        steps.append(toArray(step));
    return QJsonObject{{QStringLiteral("hold"), toArray(keys.hold)}, {QStringLiteral("steps"), steps}};
}

std::optional<ButtonKeys> UserButtonService::storedKeys(const UserButton& button)
{
    const QJsonDocument document = QJsonDocument::fromJson(button.keys().toUtf8());
    if (!document.isObject())
        return std::nullopt;
    return parseKeys(document.object());
}
