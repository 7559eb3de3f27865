#include "ui/DialogBase.h"

#include <QMouseEvent>

DialogBase::DialogBase(QWidget* parent)
    : QDialog(parent)
{
}

void DialogBase::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_isDragging = true;
    m_dragOffset = event->globalPos() - pos();
    QDialog::mousePressEvent(event);
}

void DialogBase::mouseMoveEvent(QMouseEvent* event)
{
    if (m_isDragging && !m_dragOffset.isNull())
        move(event->globalPos() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void DialogBase::mouseReleaseEvent(QMouseEvent* event)
{
    m_isDragging = false;
    QDialog::mouseReleaseEvent(event);
}
