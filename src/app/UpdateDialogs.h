// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include "shell/updates/UpdateChecking.h"

namespace kelvra {

class Browser;

/// What an interactive update check shows: the release found (with its release notes and a
/// button that opens its download page), that this version is the newest, or why the check
/// failed. One dialog at a time: a later outcome replaces the shown one and raises it.
class UpdateDialogs final : public QObject, public UpdateUserDriver {
    Q_OBJECT

public:
    /// Pages open through `browser`, the same way as the control page.
    UpdateDialogs(std::string installedVersion, Browser& browser, QObject* parent = nullptr);
    ~UpdateDialogs() override;

    void showUpdateFound(const UpdateItem& item) override;
    void showUpToDate(const UpdaterError& noUpdate) override;
    void showUpdateError(const UpdaterError& error) override;

    /// The dialog now shown; null when none is.
    QMessageBox* currentDialog() const { return dialog_; }

private:
    /// The dialog emptied for new content, created on first use.
    QMessageBox& prepareDialog(QMessageBox::Icon icon, const QString& message);
    void present();
    void openPage(const QString& url);

    const std::string installedVersion_;
    Browser& browser_;
    QPointer<QMessageBox> dialog_;
};

}  // namespace kelvra
