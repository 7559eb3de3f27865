#pragma once

#include "data/DesktopAppDao.h"
#include "ui/ViewController.h"

#include <QList>
#include <QScopedPointer>

#include <memory>

class DesktopAppEditView;
class QTreeWidgetItem;
template <class Record, class Store, class Editor> class RecordListPage;

namespace Ui {
class DesktopAppView;
}

// The desktop applications the phone may list and start. Edits go to the database at once;
// the phone sees them after "Apply" reloads the application service's snapshot.
class DesktopAppView final : public ViewController
{
    Q_OBJECT
public:
    explicit DesktopAppView(QWidget* parent = nullptr);
    ~DesktopAppView() override;

    void load(QHash<QString, QVariant>* params) override;
    void unload(QHash<QString, QVariant>* params) override;

public slots:
    void slotAdd();
    void slotEdit();
    void slotDelete();
    void slotTreeWidgetItemDoubleClicked(QTreeWidgetItem* item, int col);

private:
    QList<std::shared_ptr<DesktopApp>> m_list;
    QScopedPointer<Ui::DesktopAppView> m_ui;
    DesktopAppDao m_dao;
    std::unique_ptr<RecordListPage<DesktopApp, DesktopAppDao, DesktopAppEditView>> m_records;
};
