// SPDX-License-Identifier: MIT
#include "app/UpdateDialogs.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

#include "desktop/Alert.h"
#include "desktop/Browser.h"

namespace kelvra {
namespace {

QString releaseText(const UpdateItem& item) {
    QString text = QString::fromStdString(item.version);
    if (!item.build.empty() && item.build != item.version) {
        text += QStringLiteral(" (") + QString::fromStdString(item.build) + QLatin1Char(')');
    }
    return text;
}

/// QMessageBox guesses whether its informative text is markup; a feed's text (an invalid
/// field's value, an address) must never be taken for a link, so each text says what it is.
void setInformativeText(QMessageBox& box, const QString& text, Qt::TextFormat format) {
    box.setInformativeText(text);
    for (auto* label : box.findChildren<QLabel*>()) {
        if (label->text() == text) {
            label->setTextFormat(format);
        }
    }
}

}  // namespace

UpdateDialogs::UpdateDialogs(std::string installedVersion, Browser& browser, QObject* parent)
    : QObject(parent), installedVersion_(std::move(installedVersion)), browser_(browser) {}

UpdateDialogs::~UpdateDialogs() {
    delete dialog_;
}

void UpdateDialogs::showUpdateFound(const UpdateItem& item) {
    QMessageBox& dialog = prepareDialog(
        QMessageBox::Information, QStringLiteral("A new version of Kelvra Hub is available."));
    QString details = QStringLiteral("<p>Kelvra Hub %1 is available; you have %2.</p>")
                          .arg(releaseText(item).toHtmlEscaped(),
                               QString::fromStdString(installedVersion_).toHtmlEscaped());
    if (item.releaseNotesURL) {
        details += QStringLiteral("<p><a href=\"%1\">Release Notes</a></p>")
                       .arg(QString::fromStdString(*item.releaseNotesURL).toHtmlEscaped());
    }
    // Built from escaped texts around the one link we make ourselves.
    setInformativeText(dialog, details, Qt::RichText);
    auto* download =
        dialog.addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
    dialog.addButton(QStringLiteral("Close"), QMessageBox::RejectRole);
    dialog.setDefaultButton(download);
    const QString downloadURL = QString::fromStdString(item.downloadURL);
    connect(download, &QAbstractButton::clicked, this,
            [this, downloadURL] { openPage(downloadURL); });
    present();
}

void UpdateDialogs::showUpToDate(const UpdaterError& noUpdate) {
    QMessageBox& dialog =
        prepareDialog(QMessageBox::Information, QStringLiteral("You’re up to date."));
    setInformativeText(dialog, QString::fromStdString(noUpdate.description()), Qt::PlainText);
    dialog.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    present();
}

void UpdateDialogs::showUpdateError(const UpdaterError& error) {
    QMessageBox& dialog = prepareDialog(QMessageBox::Warning,
                                        QStringLiteral("Kelvra Hub could not check for updates."));
    setInformativeText(dialog, QString::fromStdString(error.description()), Qt::PlainText);
    dialog.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    present();
}

QMessageBox& UpdateDialogs::prepareDialog(QMessageBox::Icon icon, const QString& message) {
    if (!dialog_) {
        dialog_ = new QMessageBox();
        dialog_->setWindowTitle(QStringLiteral("Software Update"));
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        dialog_->setWindowFlag(Qt::WindowStaysOnTopHint);
        dialog_->setTextFormat(Qt::PlainText);
    }
    for (auto* button : dialog_->buttons()) {
        dialog_->removeButton(button);
        delete button;
    }
    dialog_->setIcon(icon);
    dialog_->setText(message);
    return *dialog_;
}

void UpdateDialogs::present() {
    // Links go to the same browser as every other page, not to Qt's desktop services.
    for (auto* label : dialog_->findChildren<QLabel*>()) {
        label->setOpenExternalLinks(false);
        connect(label, &QLabel::linkActivated, this, &UpdateDialogs::openPage,
                Qt::UniqueConnection);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void UpdateDialogs::openPage(const QString& url) {
    browser_.open(url, [url](bool opened) {
        if (!opened) {
            Alert{.style = AlertStyle::critical,
                  .message = QStringLiteral("Kelvra Hub could not open your default browser."),
                  .informativeText = QStringLiteral("Open %1 manually.").arg(url)}
                .open({});
        }
    });
}

}  // namespace kelvra
