#include "ui/PhoneConsentView.h"
#include "ui_PhoneConsentView.h"

#include "app/ApplicationBase.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

PhoneConsentView::PhoneConsentView(const QString& address, PhoneConsentAsker::Who who, int timeoutMs,
                                   QWidget* parent)
    : DialogBase(parent)
    , m_ui(new Ui::PhoneConsentView)
    , m_secondsLeft((qMax(timeoutMs, 0) + 999) / 1000)
    , m_countdown(new QTimer(this))
{
    m_ui->setupUi(this);
    // A stranger raises this dialog whenever it likes: it must not take the keys the user (or
    // the user's phone) is typing into another window, not even with focus following the
    // pointer. It never asks for the focus, and no button holds it.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    for (QPushButton* button : {m_ui->btnAllow, m_ui->btnAlwaysAllow, m_ui->btnRefuse}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
    }
    setAttribute(Qt::WA_DeleteOnClose);
    ApplicationBase::applyStyleSheet(this, QStringLiteral("phoneconsentview.css"), true);
    if (who == PhoneConsentAsker::Who::OtherUser) {
        m_ui->lbConsentContent->setText(
            QCoreApplication::translate(
                "PhoneConsentView", "A program of another user of this PC (from %1) is connected and waits. "
                                    "Once allowed, it can move the pointer, type, open files and start "
                                    "programs as you, for this connection only.")
                .arg(address));
        m_ui->btnAlwaysAllow->hide();
    } else {
        m_ui->lbConsentContent->setText(
            QCoreApplication::translate(
                "PhoneConsentView", "The phone at %1 is connected and waits. Once allowed, it can move the "
                                    "pointer, type, open files and start programs on this PC.")
                .arg(address));
    }

    // Only what the user reads: the server withdraws the question when its time is up.
    m_countdown->setObjectName(QStringLiteral("countdown"));
    m_countdown->setInterval(1000);
    connect(m_countdown, &QTimer::timeout, this, [this] {
        m_secondsLeft = qMax(m_secondsLeft - 1, 0);
        showTimeLeft();
    });
    m_countdown->start();
    showTimeLeft();

    using Answer = PhoneConsentAsker::Answer;
    connect(m_ui->btnAllow, &QPushButton::clicked, this, [this] { answer(Answer::Allow); });
    connect(m_ui->btnAlwaysAllow, &QPushButton::clicked, this, [this] { answer(Answer::AlwaysAllow); });
    connect(m_ui->btnRefuse, &QPushButton::clicked, this, [this] { answer(Answer::Refuse); });
}

PhoneConsentView::~PhoneConsentView() = default;

void PhoneConsentView::showTimeLeft()
{
    m_ui->lbTimeLeft->setText(QCoreApplication::translate(
        "PhoneConsentView", "Without an answer the phone is turned away in %n second(s).", nullptr,
        m_secondsLeft));
}

void PhoneConsentView::answer(PhoneConsentAsker::Answer answer)
{
    if (m_answered)
        return;
    m_answered = true;
    emit answered(answer);
    close();
}

void PhoneConsentView::reject()
{
    answer(PhoneConsentAsker::Answer::Refuse);
}

void PhoneConsentView::closeEvent(QCloseEvent* event)
{
    // Closed without a choice (by the window manager): a refusal. QDialog's own handling
    // would reject, which here closes again.
    answer(PhoneConsentAsker::Answer::Refuse);
    event->accept();
}

void PhoneConsentView::keyPressEvent(QKeyEvent* event)
{
    // Keys reach a window that did not ask for them when the pointer rests on it (focus
    // following the pointer, or no window manager): they were meant for another window. Only
    // a user who gave the dialog the focus on purpose answers by keyboard (its Alt shortcuts,
    // Escape); Enter never, as QDialog would take it for the default button.
    if (!isActiveWindow() || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    DialogBase::keyPressEvent(event);
}

PhoneConsentDialogAsker::~PhoneConsentDialogAsker()
{
    cancel();
}

void PhoneConsentDialogAsker::ask(const QString& address, Who who, int timeoutMs, Callback answered)
{
    cancel();
    auto* view = new PhoneConsentView(address, who, timeoutMs);
    m_view = view;
    QObject::connect(view, &PhoneConsentView::answered, view, [answered](PhoneConsentAsker::Answer answer) {
        if (answered)
            answered(answer);
    });
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        view->adjustSize();
        QRect frame = view->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        view->move(frame.topLeft());
    }
    view->show();
    view->raise();
}

void PhoneConsentDialogAsker::cancel()
{
    if (!m_view)
        return;
    PhoneConsentView* view = m_view;
    m_view = nullptr;
    // Withdrawn, not answered: nobody listens any more when it closes.
    QObject::disconnect(view, &PhoneConsentView::answered, nullptr, nullptr);
    view->close();
}
