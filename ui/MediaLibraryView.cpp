#include "ui/MediaLibraryView.h"

#include "app/ApplicationBase.h"
#include "data/MediaService.h"
#include "ui/MediaFolderEditView.h"
#include "ui/RecordListPage.h"
#include "ui_MediaLibraryView.h"

#include <QStyle>

// The shared list page translates its texts in this page's context; listed here for lupdate.
[[maybe_unused]] static const char* const kListPageTexts[] = {
    QT_TRANSLATE_NOOP("MediaLibraryView", "Name"),
    QT_TRANSLATE_NOOP("MediaLibraryView", "Path"),
    QT_TRANSLATE_NOOP("MediaLibraryView", "Please select a data item before selecting this operation."),
    QT_TRANSLATE_NOOP("MediaLibraryView", "Are you sure you want to delete this data?"),
};

MediaLibraryView::MediaLibraryView(QWidget* parent)
    : ViewController(parent)
    , m_ui(new Ui::MediaLibraryView)
{
    m_ui->setupUi(this);
    m_records = std::make_unique<RecordListPage<MediaFolder, MediaFolderDao, MediaFolderEditView>>(
        "MediaLibraryView", m_ui->treeWidget, m_list, m_dao, style()->standardIcon(QStyle::SP_DirIcon));

    connect(m_ui->btnAdd, &QPushButton::clicked, this, &MediaLibraryView::slotAdd);
    connect(m_ui->btnEdit, &QPushButton::clicked, this, &MediaLibraryView::slotEdit);
    connect(m_ui->btnDelete, &QPushButton::clicked, this, &MediaLibraryView::slotDelete);
    connect(m_ui->btnApply, &QPushButton::clicked, this, [] { MediaService::instance()->load(); });
    connect(m_ui->treeWidget, &QTreeWidget::itemDoubleClicked, this,
            &MediaLibraryView::slotTreeWidgetItemDoubleClicked);
    ApplicationBase::applyStyleSheet(this, QStringLiteral("medialibraryview.css"), false);
}

MediaLibraryView::~MediaLibraryView() = default;

void MediaLibraryView::load(QHash<QString, QVariant>*)
{
    m_records->rebuild();
}

void MediaLibraryView::unload(QHash<QString, QVariant>*)
{
    qDebug() << "MediaLibraryView::unload()";
}

void MediaLibraryView::slotAdd()
{
    m_records->add();
}

void MediaLibraryView::slotEdit()
{
    m_records->edit();
}

void MediaLibraryView::slotDelete()
{
    m_records->remove();
}

void MediaLibraryView::slotTreeWidgetItemDoubleClicked(QTreeWidgetItem*, int)
{
    slotEdit();
}
