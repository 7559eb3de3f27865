#include "ui/DesktopAppView.h"

#include "app/ApplicationBase.h"
#include "data/AppService.h"
#include "ui/DesktopAppEditView.h"
#include "ui/RecordListPage.h"
#include "ui_DesktopAppView.h"

#include <QIcon>

// The shared list page translates its texts in this page's context; listed here for lupdate.
[[maybe_unused]] static const char* const kListPageTexts[] = {
    QT_TRANSLATE_NOOP("DesktopAppView", "Name"),
    QT_TRANSLATE_NOOP("DesktopAppView", "Path"),
    QT_TRANSLATE_NOOP("DesktopAppView", "Please select a data item before selecting this operation."),
    QT_TRANSLATE_NOOP("DesktopAppView", "Are you sure you want to delete this data?"),
};

DesktopAppView::DesktopAppView(QWidget* parent)
    : ViewController(parent)
    , m_ui(new Ui::DesktopAppView)
{
    m_ui->setupUi(this);
    m_records = std::make_unique<RecordListPage<DesktopApp, DesktopAppDao, DesktopAppEditView>>(
        "DesktopAppView", m_ui->treeWidget, m_list, m_dao,
        QIcon(QStringLiteral(":/resources/ui/images/default/common/app.ico")));

    connect(m_ui->btnAdd, &QPushButton::clicked, this, &DesktopAppView::slotAdd);
    connect(m_ui->btnEdit, &QPushButton::clicked, this, &DesktopAppView::slotEdit);
    connect(m_ui->btnDelete, &QPushButton::clicked, this, &DesktopAppView::slotDelete);
    connect(m_ui->btnApply, &QPushButton::clicked, this, [] { AppService::instance()->load(); });
    connect(m_ui->treeWidget, &QTreeWidget::itemDoubleClicked, this,
            &DesktopAppView::slotTreeWidgetItemDoubleClicked);
    ApplicationBase::applyStyleSheet(this, QStringLiteral("desktopappview.css"), false);
}

DesktopAppView::~DesktopAppView() = default;

void DesktopAppView::load(QHash<QString, QVariant>*)
{
    m_records->rebuild();
}

void DesktopAppView::unload(QHash<QString, QVariant>*)
{
    qDebug() << "DesktopAppView::unload()";
}

void DesktopAppView::slotAdd()
{
    m_records->add();
}

void DesktopAppView::slotEdit()
{
    m_records->edit();
}

void DesktopAppView::slotDelete()
{
    m_records->remove();
}

void DesktopAppView::slotTreeWidgetItemDoubleClicked(QTreeWidgetItem*, int)
{
    slotEdit();
}
