#pragma once

#include <QObject>
#include <QString>

// A button the user made on the phone: its label and the keys it presses (compact JSON, see
// UserButtonKeys), shown in the order of sortNum.
class UserButton : public QObject
{
public:
    UserButton() = default;

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    QString label() const { return m_label; }
    void setLabel(const QString& label) { m_label = label; }
    QString keys() const { return m_keys; }
    void setKeys(const QString& keys) { m_keys = keys; }
    int sortNum() const { return m_sortNum; }
    void setSortNum(int sortNum) { m_sortNum = sortNum; }

private:
    int m_id = 0;
    QString m_label;
    QString m_keys;
    int m_sortNum = 0;
};
