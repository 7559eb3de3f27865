#include "ui/DesktopAppEditView.h"

#include "app/ApplicationBase.h"
#include "platform/process/TitleBar.h"
#include "ui/RecordEditSupport.h"
#include "ui_DesktopAppEditView.h"

#include <QColor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

DesktopAppEditView::DesktopAppEditView(QWidget* parent)
    : DialogBase(parent)
    , m_ui(new Ui::DesktopAppEditView)
{
    m_ui->setupUi(this);
    setWindowTitle(tr("Desktop app add"));
    ApplicationBase::applyStyleSheet(this, QStringLiteral("desktopappeditview.css"), true);
    colourTitleBar(this, QColor(0x19, 0x1c, 0x23), Qt::white);
    m_data = std::make_shared<DesktopApp>();

    connect(m_ui->btnSure, &QPushButton::clicked, this, &DesktopAppEditView::save);
    connect(m_ui->btnSelect, &QPushButton::clicked, this, &DesktopAppEditView::chooseApplication);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

DesktopAppEditView::~DesktopAppEditView() = default;

void DesktopAppEditView::setEditMode(bool edit)
{
    m_isEdit = edit;
    setWindowTitle(edit ? tr("Desktop app edit") : tr("Desktop app add"));
}

void DesktopAppEditView::setData(std::shared_ptr<DesktopApp> data)
{
    m_data = std::move(data);
    m_ui->edName->setText(m_data->name());
    m_ui->edPath->setText(m_data->path());
    m_ui->edWorkDir->setText(m_data->workDir());
    m_ui->edParam->setText(m_data->param());
}

void DesktopAppEditView::save()
{
    if (!requireText(m_ui->edName, tr("The name cannot be empty.")) ||
        !requireText(m_ui->edPath, tr("The path cannot be empty.")))
        return;
    m_data->setName(m_ui->edName->text());
    m_data->setPath(m_ui->edPath->text());
    m_data->setWorkDir(m_ui->edWorkDir->text());
    m_data->setParam(m_ui->edParam->text());
    if (!m_isEdit)
        m_data->setSortNum(9999);
    accept();
}

void DesktopAppEditView::chooseApplication()
{
    // Desktop entries are how Linux programs are started; Windows links still turn up on shared
    // disks. Any other executable is registered as it is.
    const QString file = QFileDialog::getOpenFileName(this, tr("Select Application"), desktopFolder(),
                                                      tr("Shortcuts (*.desktop *.lnk);;Programs (*)"));
    if (!file.isEmpty())
        applyFile(file);
}

void DesktopAppEditView::applyFile(const QString& file)
{
    const QFileInfo info(file);
    const QString suffix = info.suffix().toLower();
    const bool shortcut = suffix == QLatin1String("lnk") || suffix == QLatin1String("desktop");
    const bool program = suffix == QLatin1String("exe") || (info.isFile() && info.isExecutable());
    if (!shortcut && program) {
        m_ui->edPath->setText(QDir::toNativeSeparators(file));
        m_ui->edWorkDir->setText(QDir::toNativeSeparators(info.absoluteDir().path()));
        return;
    }
    // The shortcut is read into a scratch record that starts from the fields: the page's record
    // must not change before "Save" (a cancelled edit would otherwise leave the shortcut's
    // values in it), and a file that is no shortcut leaves the typed texts alone.
    DesktopApp scratch;
    scratch.setName(m_ui->edName->text());
    scratch.setPath(m_ui->edPath->text());
    scratch.setWorkDir(m_ui->edWorkDir->text());
    scratch.setParam(m_ui->edParam->text());
    scratch.loadShortcut(file);
    m_ui->edName->setText(scratch.name());
    m_ui->edPath->setText(scratch.path());
    m_ui->edWorkDir->setText(scratch.workDir());
    m_ui->edParam->setText(scratch.param());
}
