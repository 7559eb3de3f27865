#pragma once

#include <QObject>
#include <QString>

// One named configuration value of the dict table.
class Dict : public QObject
{
public:
    Dict() = default;

    int dictId() const { return m_dictId; }
    void setDictId(int dictId) { m_dictId = dictId; }
    QString dictName() const { return m_dictName; }
    void setDictName(const QString& dictName) { m_dictName = dictName; }
    QString dictDesc() const { return m_dictDesc; }
    void setDictDesc(const QString& dictDesc) { m_dictDesc = dictDesc; }
    QString dictValue() const { return m_dictValue; }
    void setDictValue(const QString& dictValue) { m_dictValue = dictValue; }
    int sortNum() const { return m_sortNum; }
    void setSortNum(int sortNum) { m_sortNum = sortNum; }

private:
    int m_dictId = 0;
    QString m_dictName;
    QString m_dictDesc;
    QString m_dictValue;
    int m_sortNum = 0;
};
