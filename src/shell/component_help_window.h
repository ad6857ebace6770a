#pragma once

#include "shell/platform_help.h"

#include <QDialog>

namespace lumen
{

// `Net35`: what to do when the program does not run properly because
// packages it needs are missing: the system, the packages, and the command
// that installs them, copied for the user's terminal.
class ComponentHelpWindow : public QDialog
{
    Q_OBJECT
public:
    explicit ComponentHelpWindow(const QString &osDescription, QWidget *parent = nullptr);
};

// `Net352`: what to do when the program lacks rights: which of its files
// and folders need which rights and how they stand now, then the packages
// as in ComponentHelpWindow.
class PermissionHelpWindow : public QDialog
{
    Q_OBJECT
public:
    PermissionHelpWindow(const QString &programName, const QString &osDescription,
                         const QList<PermissionEntry> &entries, QWidget *parent = nullptr);
};

} // namespace lumen
