#pragma once

#include "data/MediaFolderDao.h"
#include "ui/ViewController.h"

#include <QList>
#include <QScopedPointer>

#include <memory>

class MediaFolderEditView;
class QTreeWidgetItem;
template <class Record, class Store, class Editor> class RecordListPage;

namespace Ui {
class MediaLibraryView;
}

// The media folders the phone may browse. Edits go to the database at once; the phone sees
// them after "Apply" reloads the media service's snapshot.
class MediaLibraryView final : public ViewController
{
    Q_OBJECT
public:
    explicit MediaLibraryView(QWidget* parent = nullptr);
    ~MediaLibraryView() override;

    void load(QHash<QString, QVariant>* params) override;
    void unload(QHash<QString, QVariant>* params) override;

public slots:
    void slotAdd();
    void slotEdit();
    void slotDelete();
    void slotTreeWidgetItemDoubleClicked(QTreeWidgetItem* item, int col);

private:
    QList<std::shared_ptr<MediaFolder>> m_list;
    QScopedPointer<Ui::MediaLibraryView> m_ui;
    MediaFolderDao m_dao;
    std::unique_ptr<RecordListPage<MediaFolder, MediaFolderDao, MediaFolderEditView>> m_records;
};
