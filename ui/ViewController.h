#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QWidget>

// Base of every page of the main window. The navigation service tells a page when it becomes
// the visible one (`load`) and when it stops being it (`unload`); `init` runs once, right
// before the first `load`. The parameter map holds "navigateId" and "viewId" and is only
// valid for the duration of the call.
class ViewController : public QWidget
{
public:
    explicit ViewController(QWidget* parent = nullptr);
    ~ViewController() override = default;

    virtual void load(QHash<QString, QVariant>* params) = 0;
    virtual void init();
    virtual void unload(QHash<QString, QVariant>* params) = 0;

    bool isFirstLoad() const { return m_firstLoad; }
    void setFirstLoad(bool firstLoad) { m_firstLoad = firstLoad; }

    // Gives `page` a margin-free vertical layout holding `view`; returns `view` as a page,
    // or null when it is not one.
    static ViewController* embedView(QWidget* page, QWidget* view);

private:
    bool m_firstLoad = true;
};
