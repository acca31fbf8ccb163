// SPDX-License-Identifier: MIT
#include "clicker/ClickerKeyDecisionEngine.h"

#include <utility>

namespace kelvra {

ClickerKeyDecisionEngine::ClickerKeyDecisionEngine(
    std::shared_ptr<const ClickerInputConfiguration> configuration)
    : configuration_(std::move(configuration)) {}

std::shared_ptr<const ClickerInputConfiguration> ClickerKeyDecisionEngine::defaultConfiguration() {
    static const auto configuration =
        std::make_shared<const ClickerInputConfiguration>(ClickerInputConfiguration::defaults());
    return configuration;
}

void ClickerKeyDecisionEngine::setConfiguration(
    std::shared_ptr<const ClickerInputConfiguration> configuration) {
    std::lock_guard lock(lock_);
    configuration_.swap(configuration);
}  // the replaced configuration is released here, after the lock

void ClickerKeyDecisionEngine::setRecording(bool recording) {
    std::lock_guard lock(lock_);
    recording_ = recording;
}

void ClickerKeyDecisionEngine::clearHeldKeys() {
    std::lock_guard lock(lock_);
    heldCount_ = 0;
}

void ClickerKeyDecisionEngine::forgetDevice(uint32_t device) {
    std::lock_guard lock(lock_);
    for (size_t index = heldCount_; index-- > 0;) {
        if (heldKeys_[index].device == device) {
            heldKeys_[index] = heldKeys_[--heldCount_];
        }
    }
}

ClickerKeyDecisionEngine::Decision ClickerKeyDecisionEngine::decide(const KeyboardTapEvent& event) {
    std::lock_guard lock(lock_);
    size_t index = 0;
    while (index < heldCount_ &&
           (heldKeys_[index].device != event.device || heldKeys_[index].keyCode != event.keyCode)) {
        ++index;
    }
    const bool held = index < heldCount_;

    if (event.transition == KeyTransition::up) {
        if (!held) {
            return {};
        }
        const bool consumed = heldKeys_[index].consumed;
        heldKeys_[index] = heldKeys_[--heldCount_];
        return {consumed ? KeyboardTapDecision::consume : KeyboardTapDecision::pass, {}};
    }

    if (held) {
        return {
            heldKeys_[index].consumed ? KeyboardTapDecision::consume : KeyboardTapDecision::pass,
            {}};
    }
    auto input =
        recording_ ? std::nullopt : configuration_->captured(event.keyCode, event.modifierFlags);
    if (heldCount_ < kHeldKeyCapacity) {
        heldKeys_[heldCount_++] = {event.device, event.keyCode, input.has_value()};
    }
    if (!input) {
        return {};
    }
    if (event.transition == KeyTransition::repeat) {
        return {KeyboardTapDecision::consume, {}};
    }
    return {KeyboardTapDecision::consume, input};
}

}  // namespace kelvra
