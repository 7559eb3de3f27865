#pragma once

#include "ui/DialogBase.h"

#include <QScopedPointer>
#include <QString>

namespace Ui {
class MessageBoxView;
}

// The application's own modal message box, drawn in the dark theme: a question with Cancel
// and Sure, or a notice with Sure only. Frameless; only the styled panel is visible.
class MessageBoxView final : public DialogBase
{
    Q_OBJECT
public:
    explicit MessageBoxView(QWidget* parent = nullptr);
    ~MessageBoxView() override;

    // Empty button text keeps "Sure"; an empty title keeps the form's (the head bar is hidden
    // anyway).
    void setMessage(const QString& content, const QString& buttonText, const QString& title);

    // True exactly when the user pressed Sure; Cancel, Escape or closing answer false.
    static bool question(const QString& content, const QString& buttonText = QString(),
                         const QString& title = QString());
    static void information(const QString& content, const QString& buttonText = QString(),
                            const QString& title = QString());

private:
    static int run(const QString& content, const QString& buttonText, const QString& title, bool withCancel);

    QScopedPointer<Ui::MessageBoxView> m_ui;
};
