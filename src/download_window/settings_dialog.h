#pragma once

#include "settings/app_settings.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace lumen
{

// fOption, the "设置" dialog: download method, the proxy of the
// single-connection method, the largest file to download and when to ask
// for the save folder. It only edits values; "确定" hands them to whoever
// opened it (the session stores and applies them, in their order) and then
// closes, "关闭" closes without a change.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(const SettingsDialogValues &initial, QWidget *parent = nullptr);

    SettingsDialogValues values() const;

signals:
    // "确定" was pressed; the dialog closes right after the receivers ran.
    void confirmed(const SettingsDialogValues &values);

private:
    QRadioButton *m_methodOne = nullptr;
    QRadioButton *m_methodTwo = nullptr;
    QCheckBox *m_proxyOn = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_port = nullptr;
    QCheckBox *m_askFolder = nullptr;
    QLineEdit *m_maxSize = nullptr;
};

// How windows open the settings dialog, so that tests can answer it without
// a modal loop.
class SettingsDialogOpener
{
public:
    using Confirm = std::function<void(const SettingsDialogValues &)>;
    virtual ~SettingsDialogOpener() = default;
    // Shows the dialog with the values; confirm runs when the user presses
    // "确定", before the dialog closes.
    virtual void open(QWidget *owner, const SettingsDialogValues &initial,
                      const Confirm &confirm) = 0;
};

// The desktop's opener: the dialog, modal over its owner.
class ModalSettingsDialogOpener final : public SettingsDialogOpener
{
public:
    void open(QWidget *owner, const SettingsDialogValues &initial, const Confirm &confirm) override;
};

} // namespace lumen
