#pragma once

// Answers modal dialogs from inside their own event loop: the test schedules the answer, then
// triggers the code that calls exec().

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>

// Calls `answer` with the next modal widget that is shown above `below` (the dialog already
// open, if any). Gives up when `below` closes first, or after about five seconds, so that a
// dialog that never opens does not leave a timer behind to answer a later one.
inline void answerNextModal(std::function<void(QWidget*)> answer, QWidget* below = nullptr)
{
    auto* timer = new QTimer;
    auto ticks = std::make_shared<int>(0);
    QPointer<QWidget> guard(below);
    const bool hadBelow = below != nullptr;
    QObject::connect(timer, &QTimer::timeout, [timer, ticks, guard, hadBelow, answer]() {
        QWidget* modal = QApplication::activeModalWidget();
        const bool ready = modal && modal->isVisible() && (!hadBelow || modal != guard.data());
        // Once the dialog below has closed, nothing opened above it: do not answer another.
        const bool gone = hadBelow && !guard;
        if (!ready && !gone && ++*ticks < 500)
            return;
        timer->stop();
        timer->deleteLater();
        if (ready && !gone)
            answer(modal);
    });
    timer->start(10);
}

inline QPushButton* button(QWidget* dialog, const char* name)
{
    return dialog->findChild<QPushButton*>(QString::fromLatin1(name));
}

inline QLineEdit* field(QWidget* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
}

// The texts of the named line edits, in the order given.
inline QStringList fieldTexts(QWidget* dialog, std::initializer_list<const char*> names)
{
    QStringList texts;
    for (const char* name : names)
        texts << field(dialog, name)->text();
    return texts;
}

// Presses the named button of the next modal dialog.
inline void clickInNextModal(const char* buttonName, QWidget* below = nullptr)
{
    answerNextModal(
        [buttonName](QWidget* dialog) {
            if (QPushButton* b = button(dialog, buttonName))
                b->click();
        },
        below);
}

// Answers the next file chooser above `below` with `path`, or cancels it when `path` is empty.
inline void chooseFile(const QString& path, QWidget* below = nullptr)
{
    answerNextModal(
        [path](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            if (!chooser)
                return;
            if (path.isEmpty()) {
                chooser->reject();
                return;
            }
            // The dialog lists folders in the background and may select a row meanwhile; a
            // selected row would win over the typed name, so clear the views first.
            chooser->selectFile(path);
            for (QAbstractItemView* view : chooser->findChildren<QAbstractItemView*>())
                if (view->selectionModel())
                    view->selectionModel()->clearSelection();
            chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog*>(chooser)->accept(); // public in the base; checks the file exists
        },
        below);
}
