// SPDX-License-Identifier: MIT
#include "desktop/Browser.h"

#include <memory>
#include <utility>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <QUrl>

#include "desktop/ChildSignals.h"

namespace kelvra {

void Browser::open(const QString& url, std::function<void(bool)> completion) {
    // xdg-open hands any other scheme (smb:, file:, a desktop file) to whatever handles it.
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty() ||
        (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https"))) {
        QTimer::singleShot(0, this, [completion = std::move(completion)] { completion(false); });
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({url});
    // The browser may inherit these; nobody reads them.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // The token goes to the child alone: our own environment is read by other threads.
    if (const auto token = std::exchange(activationToken_, std::nullopt);
        token && !token->empty()) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QString::fromStdString(*token));
        process->setProcessEnvironment(environment);
    }
    startWithDefaultSignals(*process);

    // Whatever comes first of exit, failure to start and the grace period decides.
    auto complete = std::make_shared<std::function<void(bool)>>(std::move(completion));
    auto decide = [complete](bool opened) {
        if (*complete) {
            std::exchange(*complete, nullptr)(opened);
        }
    };
    connect(process, &QProcess::finished, this,
            [process, decide](int exitCode, QProcess::ExitStatus status) {
                decide(status == QProcess::NormalExit && exitCode == 0);
                process->deleteLater();
            });
    connect(process, &QProcess::errorOccurred, this,
            [process, decide](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    decide(false);
                    process->deleteLater();
                }
            });
    QTimer::singleShot(stillRunningMeansOpened_, process, [decide] { decide(true); });
    process->start();
}

}  // namespace kelvra
