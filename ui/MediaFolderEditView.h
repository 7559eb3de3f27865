#pragma once

#include "data/MediaFolder.h"
#include "ui/DialogBase.h"

#include <QScopedPointer>

#include <memory>

namespace Ui {
class MediaFolderEditView;
}

// Edits one media folder's name and path; "Select" fills both from a folder chooser. In add
// mode the record is a fresh one, in modify mode the page's own record.
class MediaFolderEditView final : public DialogBase
{
    Q_OBJECT
public:
    explicit MediaFolderEditView(QWidget* parent = nullptr);
    ~MediaFolderEditView() override;

    void setEditMode(bool edit);
    // Shares the record (no copy) and shows its name and path.
    void setData(std::shared_ptr<MediaFolder> data);
    std::shared_ptr<MediaFolder> data() const { return m_data; }

private:
    void save();
    void chooseFolder();

    std::shared_ptr<MediaFolder> m_data;
    bool m_isEdit = false;
    QScopedPointer<Ui::MediaFolderEditView> m_ui;
};
