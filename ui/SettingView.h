#pragma once

#include "ui/ViewController.h"

#include <QScopedPointer>

class QLineEdit;

namespace Ui {
class SettingView;
}

// The programs that open audio and video files for the phone. Only "Select" and "Default"
// store a choice; text typed into a field is not stored, and the next `load` shows the stored
// value again. Below them, the state of the pointer and keyboard backend.
class SettingView final : public ViewController
{
public:
    explicit SettingView(QWidget* parent = nullptr);
    ~SettingView() override;

    void load(QHash<QString, QVariant>* params) override;
    void unload(QHash<QString, QVariant>* params) override;

private:
    void selectPlayer(QLineEdit* field, const QString& key, const QString& caption);
    void resetPlayer(QLineEdit* field, const QString& key);
    // Which input backend runs and whether it may inject; the button asks the desktop again.
    void showInputStatus();

    QScopedPointer<Ui::SettingView> m_ui;
};
