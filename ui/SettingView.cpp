#include "ui/SettingView.h"

#include "app/ApplicationBase.h"
#include "data/ConfigService.h"
#include "platform/input/InputBackendStatus.h"
#include "remote/ClipboardCommands.h"
#include "remote/PowerHandler.h"
#include "remote/TextTyper.h"
#include "ui/RecordEditSupport.h"
#include "ui_SettingView.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QSignalBlocker>
#include <QUrl>

#include <algorithm>

namespace {
const QString AudioPlayerKey = QStringLiteral("audioPlayer");
const QString VideoPlayerKey = QStringLiteral("videoPlayer");
const QString ClipboardReadKey = QLatin1String(ClipboardCommands::ReadSettingKey);
const QString PowerAllowKey = QLatin1String(PowerHandler::AllowSettingKey);
const QString PasteUntypeableKey = QLatin1String(TextTyper::PasteSettingKey);
constexpr qint64 MiB = 1024 * 1024;

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
    connect(m_ui->chkAllowPower, &QCheckBox::toggled, this, [](bool on) {
        ConfigService::instance()->setValue(PowerAllowKey, on ? QStringLiteral("1") : QStringLiteral("0"),
                                            QString());
    });
    // On unless turned off: the missing entry means on.
    connect(m_ui->chkPasteUntypeable, &QCheckBox::toggled, this, [](bool on) {
        ConfigService::instance()->setValue(PasteUntypeableKey,
                                            on ? QStringLiteral("1") : QStringLiteral("0"), QString());
    });
    auto* status = InputBackendStatus::instance();
    connect(m_ui->btnAskAgain, &QPushButton::clicked, status, &InputBackendStatus::askAgain);
    connect(status, &InputBackendStatus::changed, this, &SettingView::showInputStatus);
    showInputStatus();

    m_openFolder = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    connect(m_ui->btnSelectReceiveFolder, &QPushButton::clicked, this, &SettingView::selectReceiveFolder);
    connect(m_ui->btnDefaultReceiveFolder, &QPushButton::clicked, this,
            [this] { storeReceiveFolder(QString()); });
    connect(m_ui->btnOpenReceiveFolder, &QPushButton::clicked, this,
            [this] { m_openFolder(receiveFolder()); });
    connect(m_ui->twReceivedFiles, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        m_openFolder(QFileInfo(item->data(0, Qt::UserRole).toString()).absolutePath());
    });
    // Stored when the user is done with the field, not at every digit typed.
    m_ui->sbReceiveLimit->setKeyboardTracking(false);
    m_ui->sbReceiveLimit->setRange(1, 1024 * 1024);
    connect(m_ui->sbReceiveLimit, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int mib) {
        const QString bytes = QString::number(qint64(mib) * MiB);
        if (bytes == ConfigService::instance()->value(QLatin1String(ReceiveMaxBytesKey), QString()))
            return;
        ConfigService::instance()->setValue(QLatin1String(ReceiveMaxBytesKey), bytes, QString());
        emit receiveSettingsChanged();
    });
    showReceiveSettings();
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
    const QSignalBlocker quietPower(m_ui->chkAllowPower);
    m_ui->chkAllowPower->setChecked(ConfigService::instance()->value(PowerAllowKey, QString()) ==
                                    QLatin1String("1"));
    const QSignalBlocker quietPaste(m_ui->chkPasteUntypeable);
    m_ui->chkPasteUntypeable->setChecked(ConfigService::instance()->value(PasteUntypeableKey, QString()) !=
                                         QLatin1String("0"));
    showReceiveSettings();
}

void SettingView::setDefaultReceiveFolder(const QString& folder)
{
    m_defaultReceiveFolder = folder;
    showReceiveSettings();
}

QString SettingView::receiveFolder() const
{
    const QString chosen = ConfigService::instance()->value(QLatin1String(ReceiveFolderKey), QString());
    return chosen.isEmpty() ? m_defaultReceiveFolder : chosen;
}

void SettingView::showReceiveSettings()
{
    m_ui->edReceiveFolder->setText(QDir::toNativeSeparators(receiveFolder()));
    const qint64 bytes =
        ConfigService::instance()->value(QLatin1String(ReceiveMaxBytesKey), QString()).toLongLong();
    const qint64 limit = bytes > 0 ? bytes : DefaultReceiveMaxBytes;
    const QSignalBlocker quiet(m_ui->sbReceiveLimit);
    m_ui->sbReceiveLimit->setValue(
        int(std::min<qint64>((limit + MiB - 1) / MiB, m_ui->sbReceiveLimit->maximum())));
}

void SettingView::selectReceiveFolder()
{
    QFileDialog dialog(this, translated(QT_TRANSLATE_NOOP("SettingView", "Folder for Files from the Phone")),
                       receiveFolder());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    storeReceiveFolder(QDir::cleanPath(dialog.selectedFiles().constFirst()));
}

void SettingView::storeReceiveFolder(const QString& folder)
{
    ConfigService::instance()->setValue(QLatin1String(ReceiveFolderKey), folder, QString());
    showReceiveSettings();
    emit receiveSettingsChanged();
}

void SettingView::setRecentFiles(const QVector<ReceivedFile>& files)
{
    QTreeWidget* list = m_ui->twReceivedFiles;
    list->clear();
    const QLocale locale;
    for (const ReceivedFile& file : files) {
        auto* item =
            new QTreeWidgetItem(list, {QFileInfo(file.path).fileName(), locale.formattedDataSize(file.size),
                                       locale.toString(file.time, QLocale::ShortFormat)});
        item->setData(0, Qt::UserRole, file.path);
        item->setToolTip(0, QDir::toNativeSeparators(file.path));
    }
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
