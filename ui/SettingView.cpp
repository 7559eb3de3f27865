#include "ui/SettingView.h"

#include "app/ApplicationBase.h"
#include "data/ConfigService.h"
#include "platform/InputBackendStatus.h"
#include "remote/ClipboardCommands.h"
#include "ui/RecordEditSupport.h"
#include "ui_SettingView.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QSignalBlocker>

namespace {
const QString AudioPlayerKey = QStringLiteral("audioPlayer");
const QString VideoPlayerKey = QStringLiteral("videoPlayer");
const QString ClipboardReadKey = QLatin1String(ClipboardCommands::ReadSettingKey);

QString translated(const char* text)
{
    return QCoreApplication::translate("SettingView", text);
}
} // namespace

SettingView::SettingView(QWidget* parent)
    : ViewController(parent)
    , m_ui(new Ui::SettingView)
{
    m_ui->setupUi(this);
    ApplicationBase::applyStyleSheet(this, QStringLiteral("settingview.css"), false);
    connect(m_ui->btnSelectAudioPlayer, &QPushButton::clicked, this, [this] {
        selectPlayer(m_ui->edAudioPlayerPath, AudioPlayerKey,
                     translated(QT_TRANSLATE_NOOP("SettingView", "Select Audio Player")));
    });
    connect(m_ui->btnSelectVideoPlayer, &QPushButton::clicked, this, [this] {
        selectPlayer(m_ui->edVideoPlayerPath, VideoPlayerKey,
                     translated(QT_TRANSLATE_NOOP("SettingView", "Select Video Player")));
    });
    connect(m_ui->btnDefaultAudioPlayer, &QPushButton::clicked, this,
            [this] { resetPlayer(m_ui->edAudioPlayerPath, AudioPlayerKey); });
    connect(m_ui->btnDefaultVideoPlayer, &QPushButton::clicked, this,
            [this] { resetPlayer(m_ui->edVideoPlayerPath, VideoPlayerKey); });
    // Stored at once, like the player choices; the phone's next request sees it.
    connect(m_ui->chkAllowClipboardRead, &QCheckBox::toggled, this, [](bool on) {
        ConfigService::instance()->setValue(ClipboardReadKey, on ? QStringLiteral("1") : QStringLiteral("0"),
                                            QString());
    });
    auto* status = InputBackendStatus::instance();
    connect(m_ui->btnAskAgain, &QPushButton::clicked, status, &InputBackendStatus::askAgain);
    connect(status, &InputBackendStatus::changed, this, &SettingView::showInputStatus);
    showInputStatus();
}

SettingView::~SettingView() = default;

void SettingView::load(QHash<QString, QVariant>*)
{
    qDebug() << "SettingView::load.";
    m_ui->edAudioPlayerPath->setText(ConfigService::instance()->value(AudioPlayerKey, QString()));
    m_ui->edVideoPlayerPath->setText(ConfigService::instance()->value(VideoPlayerKey, QString()));
    const QSignalBlocker quiet(m_ui->chkAllowClipboardRead);
    m_ui->chkAllowClipboardRead->setChecked(ConfigService::instance()->value(ClipboardReadKey, QString()) ==
                                            QLatin1String("1"));
}

void SettingView::unload(QHash<QString, QVariant>*)
{
    qDebug() << "SettingView::unload.";
}

void SettingView::showInputStatus()
{
    const auto* status = InputBackendStatus::instance();
    QString backend;
    switch (status->kind()) {
    case InputBackendKind::XTest:
        backend = translated(QT_TRANSLATE_NOOP("SettingView", "X11 (XTest)"));
        break;
    case InputBackendKind::Wlroots:
        backend = translated(QT_TRANSLATE_NOOP("SettingView", "Wayland virtual pointer and keyboard"));
        break;
    case InputBackendKind::Portal:
        backend = translated(QT_TRANSLATE_NOOP("SettingView", "Desktop remote-control portal"));
        break;
    case InputBackendKind::Mutter:
        backend = translated(QT_TRANSLATE_NOOP("SettingView", "GNOME remote control"));
        break;
    case InputBackendKind::Uinput:
        backend = translated(QT_TRANSLATE_NOOP("SettingView", "Virtual input devices (uinput)"));
        break;
    case InputBackendKind::LogOnly:
        backend = translated(QT_TRANSLATE_NOOP("SettingView", "None: phone input is only logged"));
        break;
    }
    QString state;
    switch (status->state()) {
    case InputBackendStatus::State::Ready:
        state = translated(QT_TRANSLATE_NOOP("SettingView", "ready"));
        break;
    case InputBackendStatus::State::WaitingForPermission:
        state = translated(QT_TRANSLATE_NOOP("SettingView", "waiting for your permission"));
        break;
    case InputBackendStatus::State::Refused:
        state = translated(QT_TRANSLATE_NOOP("SettingView", "refused"));
        break;
    case InputBackendStatus::State::Unavailable:
        state = translated(QT_TRANSLATE_NOOP("SettingView", "not available"));
        break;
    }
    m_ui->lbInputStatus->setText(translated(QT_TRANSLATE_NOOP("SettingView", "%1: %2")).arg(backend, state));
    // Why this backend, or what went wrong; fixed texts of ours are translated, messages of
    // the desktop shown as they came.
    const QString detail =
        QCoreApplication::translate("InputBackendChoice", status->detail().toUtf8().constData());
    m_ui->lbInputReason->setText(detail);
    m_ui->lbInputStatus->setToolTip(detail);
    m_ui->btnAskAgain->setVisible(status->canAskAgain());
}

void SettingView::selectPlayer(QLineEdit* field, const QString& key, const QString& caption)
{
    // A player is any executable program; the dialog lists only those (and folders).
    QFileDialog dialog(this, caption, desktopFolder(),
                       translated(QT_TRANSLATE_NOOP("SettingView", "Media Player (*)")));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    if (path.isEmpty())
        return;
    field->setText(path);
    ConfigService::instance()->setValue(key, path, QString());
}

void SettingView::resetPlayer(QLineEdit* field, const QString& key)
{
    field->setText(QString());
    ConfigService::instance()->setValue(key, QString(), QString());
}
