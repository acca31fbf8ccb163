// SPDX-License-Identifier: MIT
#include "clicker/linux/SessionKeyboardTap.h"

#include "clicker/linux/DeviceKeyboardTap.h"
#include "clicker/linux/X11KeyboardTap.h"

namespace kelvra {

SessionKeyboardTap::SessionKeyboardTap(const Environment& environment, std::shared_ptr<LogSink> log,
                                       std::shared_ptr<MainThreadExecutor> mainThread)
    : log_(std::move(log)),
      mainThread_(std::move(mainThread)),
      backends_{
          .device = [log = log_] { return makeDeviceKeyboardTap(log); },
          .x11 = [environment] { return makeX11KeyboardTap(environment); },
      },
      forced_(environmentValue(environment, std::string(kKeyboardTapVariable))) {}

std::expected<std::unique_ptr<KeyboardTapBackend>, KeyboardTapError> SessionKeyboardTap::open()
    const {
    return openKeyboardTap(backends_, forced_);
}

std::shared_ptr<ClickerInputMonitor> SessionKeyboardTap::makeListener(
    std::function<void(ClickerCapturedInput)> onInput, ClickerInputMonitorReports reports,
    const ClickerInputConfiguration& configuration) const {
    return ClickerInputMonitor::create(
        log_, mainThread_,
        [backends = backends_, forced = forced_] { return openKeyboardTap(backends, forced); },
        std::move(onInput), std::move(reports), configuration);
}

std::optional<bool> SessionKeyboardTap::accessGranted(
    const KeyboardTapConfiguration& configuration) const {
    if (forced_ != "x11") {
        const auto filesOpen = deviceKeyboardFilesOpen(
            *makeSystemInputDeviceLayer(), *makeLogindSessionLockWatch(), configuration);
        if (!filesOpen.has_value() || *filesOpen) {
            return filesOpen;
        }
    }
    return forced_ != "device" && open().has_value();
}

}  // namespace kelvra
