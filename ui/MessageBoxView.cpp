#include "ui/MessageBoxView.h"

#include "app/ApplicationBase.h"
#include "ui_MessageBoxView.h"

MessageBoxView::MessageBoxView(QWidget* parent)
    : DialogBase(parent)
    , m_ui(new Ui::MessageBoxView)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    m_ui->pnDialogPanelHead->hide();
    ApplicationBase::applyStyleSheet(this, QStringLiteral("messageboxview.css"), true);

    connect(m_ui->btnSure, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

MessageBoxView::~MessageBoxView() = default;

void MessageBoxView::setMessage(const QString& content, const QString& buttonText, const QString& title)
{
    m_ui->lbMessageBoxContent->setText(content);
    if (!buttonText.isEmpty())
        m_ui->btnSure->setText(buttonText);
    if (!title.isEmpty())
        m_ui->lbFormTitle->setText(title);
}

int MessageBoxView::run(const QString& content, const QString& buttonText, const QString& title,
                        bool withCancel)
{
    MessageBoxView dialog;
    dialog.setMessage(content, buttonText, title);
    dialog.m_ui->btnCancel->setVisible(withCancel);
    return dialog.exec();
}

bool MessageBoxView::question(const QString& content, const QString& buttonText, const QString& title)
{
    return run(content, buttonText, title, true) == QDialog::Accepted;
}

void MessageBoxView::information(const QString& content, const QString& buttonText, const QString& title)
{
    run(content, buttonText, title, false);
}
