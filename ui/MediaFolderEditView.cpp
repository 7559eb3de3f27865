#include "ui/MediaFolderEditView.h"

#include "app/ApplicationBase.h"
#include "platform/process/TitleBar.h"
#include "ui/RecordEditSupport.h"
#include "ui_MediaFolderEditView.h"

#include <QColor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

MediaFolderEditView::MediaFolderEditView(QWidget* parent)
    : DialogBase(parent)
    , m_ui(new Ui::MediaFolderEditView)
{
    m_ui->setupUi(this);
    setWindowTitle(tr("Media folder add"));
    colourTitleBar(this, QColor(0x19, 0x1c, 0x23), Qt::white);
    ApplicationBase::applyStyleSheet(this, QStringLiteral("mediafoldereditview.css"), true);
    m_data = std::make_shared<MediaFolder>();

    connect(m_ui->btnSure, &QPushButton::clicked, this, &MediaFolderEditView::save);
    connect(m_ui->btnSelect, &QPushButton::clicked, this, &MediaFolderEditView::chooseFolder);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

MediaFolderEditView::~MediaFolderEditView() = default;

void MediaFolderEditView::setEditMode(bool edit)
{
    m_isEdit = edit;
    setWindowTitle(edit ? tr("Media folder edit") : tr("Media folder add"));
}

void MediaFolderEditView::setData(std::shared_ptr<MediaFolder> data)
{
    m_data = std::move(data);
    m_ui->edName->setText(m_data->name());
    m_ui->edPath->setText(m_data->path());
}

void MediaFolderEditView::save()
{
    if (!requireText(m_ui->edName, tr("The name cannot be empty.")) ||
        !requireText(m_ui->edPath, tr("The path cannot be empty.")))
        return;
    m_data->setName(m_ui->edName->text());
    m_data->setPath(m_ui->edPath->text());
    if (!m_isEdit)
        m_data->setSortNum(9999);
    accept();
}

void MediaFolderEditView::chooseFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Select Media Folder"), m_ui->edPath->text().trimmed(),
                                          QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;
    m_ui->edName->setText(QFileInfo(folder).baseName());
    m_ui->edPath->setText(QDir::toNativeSeparators(folder));
}
