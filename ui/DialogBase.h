#pragma once

#include <QDialog>
#include <QPoint>

// Base of the editor dialogs and the message box: a dialog the user can move by dragging its
// surface with the left mouse button (they have no system frame, or a plain one).
class DialogBase : public QDialog
{
    Q_OBJECT
public:
    explicit DialogBase(QWidget* parent = nullptr);
    ~DialogBase() override = default;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_isDragging = false;
    QPoint m_dragOffset;
};
