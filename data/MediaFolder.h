#pragma once

#include <QObject>
#include <QString>

// A registered media folder: one of the roots the phone browses.
class MediaFolder : public QObject
{
public:
    MediaFolder() = default;

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    int sortNum() const { return m_sortNum; }
    void setSortNum(int sortNum) { m_sortNum = sortNum; }

private:
    int m_id = 0;
    QString m_name;
    QString m_path;
    int m_sortNum = 0;
};
