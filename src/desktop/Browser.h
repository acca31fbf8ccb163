// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include <QObject>
#include <QString>

namespace kelvra {

/// Opens addresses in the user's default browser through `xdg-open`, judged by its exit status
/// (the desktop services of Qt report success even when no browser is found).
class Browser final : public QObject {
    Q_OBJECT

public:
    /// A generic `xdg-open` runs a browser that was not running yet in its own foreground;
    /// still running after this long, it has found one.
    static constexpr std::chrono::milliseconds kStillRunningMeansOpened{10000};

    explicit Browser(std::chrono::milliseconds stillRunningMeansOpened = kStillRunningMeansOpened,
                     QObject* parent = nullptr)
        : QObject(parent), stillRunningMeansOpened_(stillRunningMeansOpened) {}

    /// Starts `xdg-open url`; `completion` runs on the main thread with whether it worked,
    /// unless this object goes first. Only an http or https address with a host is opened; any
    /// other completes with false.
    void open(const QString& url, std::function<void(bool)> completion);

    /// The XDG activation token the next `xdg-open` gets in its own environment, so that the
    /// browser may take the focus; spent by that one start. Absent takes back one not spent.
    void lendActivationToken(std::optional<std::string> token) {
        activationToken_ = std::move(token);
    }

private:
    const std::chrono::milliseconds stillRunningMeansOpened_;
    std::optional<std::string> activationToken_;
};

}  // namespace kelvra
