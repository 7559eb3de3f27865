#include "ui/RecordEditSupport.h"

#include "ui/MessageBoxView.h"

#include <QLineEdit>
#include <QStandardPaths>

bool requireText(QLineEdit* field, const QString& message)
{
    if (!field->text().isEmpty())
        return true;
    MessageBoxView::information(message);
    field->setFocus(Qt::OtherFocusReason);
    return false;
}

QString desktopFolder()
{
    return QStandardPaths::standardLocations(QStandardPaths::DesktopLocation).value(0);
}
