#pragma once

#include "ui/ViewController.h"

#include <QDateTime>
#include <QScopedPointer>
#include <QVector>

#include <functional>

class QLineEdit;

namespace Ui {
class SettingView;
}

// The programs that open audio and video files for the phone. Only "Select" and "Default"
// store a choice; text typed into a field is not stored, and the next `load` shows the stored
// value again. Below them, the state of the pointer and keyboard backend, and where files from
// the phone land: the folder and the size limit are stored and applied at once.
class SettingView final : public ViewController
{
    Q_OBJECT
public:
    static constexpr const char* ReceiveFolderKey = "receiveFolder";
    static constexpr const char* ReceiveMaxBytesKey = "receiveMaxBytes";
    static constexpr qint64 DefaultReceiveMaxBytes = qint64(4) * 1024 * 1024 * 1024;

    struct ReceivedFile
    {
        QString path;
        qint64 size = 0;
        QDateTime time;
    };

    explicit SettingView(QWidget* parent = nullptr);
    ~SettingView() override;

    void load(QHash<QString, QVariant>* params) override;
    void unload(QHash<QString, QVariant>* params) override;

    // The folder files land in while none is chosen.
    void setDefaultReceiveFolder(const QString& folder);
    // The last files received, newest first.
    void setRecentFiles(const QVector<ReceivedFile>& files);
    // Opens a folder for the user; by default the desktop's file manager.
    void setFolderOpener(std::function<void(const QString& folder)> open) { m_openFolder = std::move(open); }

signals:
    // The receive folder or the size limit was stored anew.
    void receiveSettingsChanged();

private:
    void showReceiveSettings();
    void selectReceiveFolder();
    void storeReceiveFolder(const QString& folder);
    QString receiveFolder() const;
    void selectPlayer(QLineEdit* field, const QString& key, const QString& caption);
    void resetPlayer(QLineEdit* field, const QString& key);
    // Which input backend runs and whether it may inject; the button asks the desktop again.
    void showInputStatus();

    QScopedPointer<Ui::SettingView> m_ui;
    QString m_defaultReceiveFolder;
    std::function<void(const QString&)> m_openFolder;
};
