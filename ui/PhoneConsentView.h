#pragma once

#include "remote/PhoneConsentAsker.h"
#include "ui/DialogBase.h"

#include <QPointer>
#include <QScopedPointer>

class QTimer;

namespace Ui {
class PhoneConsentView;
}

// The question a new phone raises: in the dark theme of the message box, above every other
// window, naming the phone's address. It is answered by click: it never takes the keyboard
// focus, and keys that reach it without the user giving it the focus answer nothing, so that
// a key typed for another window cannot answer it by accident.
class PhoneConsentView final : public DialogBase
{
    Q_OBJECT
public:
    // The question closes by itself after `timeoutMs`; the dialog counts the time down. A
    // program of another user is never always allowed: the dialog says who it is and offers
    // no "Always Allow".
    PhoneConsentView(const QString& address, PhoneConsentAsker::Who who, int timeoutMs,
                     QWidget* parent = nullptr);
    ~PhoneConsentView() override;

    // Escape (once given the focus), or the window closed otherwise: a refusal.
    void reject() override;

signals:
    void answered(PhoneConsentAsker::Answer answer);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void answer(PhoneConsentAsker::Answer answer);
    void showTimeLeft();

    QScopedPointer<Ui::PhoneConsentView> m_ui;
    bool m_answered = false;
    int m_secondsLeft = 0;
    QTimer* m_countdown = nullptr;
};

// Asks with a PhoneConsentView; closing it counts as "Refuse".
class PhoneConsentDialogAsker final : public PhoneConsentAsker
{
public:
    PhoneConsentDialogAsker() = default;
    ~PhoneConsentDialogAsker() override;

    void ask(const QString& address, Who who, int timeoutMs, Callback answered) override;
    void cancel() override;

private:
    QPointer<PhoneConsentView> m_view;
};
