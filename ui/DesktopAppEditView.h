#pragma once

#include "data/DesktopApp.h"
#include "ui/DialogBase.h"

#include <QScopedPointer>

#include <memory>

namespace Ui {
class DesktopAppEditView;
}

// Edits one desktop application: name, path, working directory and parameters. "Select" takes
// them from a chosen program or shortcut file. In add mode the record is a fresh one, in modify
// mode the page's own record, which changes only when the dialog is saved.
class DesktopAppEditView final : public DialogBase
{
    Q_OBJECT
public:
    explicit DesktopAppEditView(QWidget* parent = nullptr);
    ~DesktopAppEditView() override;

    void setEditMode(bool edit);
    // Shares the record (no copy) and shows its four texts.
    void setData(std::shared_ptr<DesktopApp> data);
    std::shared_ptr<DesktopApp> data() const { return m_data; }

private:
    void save();
    void chooseApplication();
    void applyFile(const QString& file);

    std::shared_ptr<DesktopApp> m_data;
    bool m_isEdit = false;
    QScopedPointer<Ui::DesktopAppEditView> m_ui;
};
