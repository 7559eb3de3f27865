#pragma once

#include <QObject>
#include <QString>

// A registered desktop application (a program, document or shortcut) the phone can launch.
class DesktopApp : public QObject
{
public:
    DesktopApp() = default;

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    QString workDir() const { return m_workDir; }
    void setWorkDir(const QString& workDir) { m_workDir = workDir; }
    QString param() const { return m_param; }
    void setParam(const QString& param) { m_param = param; }
    int sortNum() const { return m_sortNum; }
    void setSortNum(int sortNum) { m_sortNum = sortNum; }

    // Fills path, working directory and parameters from a desktop shortcut file.
    void loadShortcut(const QString& shortcutPath);

private:
    int m_id = 0;
    QString m_name;
    QString m_path;
    QString m_workDir;
    QString m_param;
    int m_sortNum = 0;
};
