// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "clicker/ClickerInputConfiguration.h"
#include "clicker/KeyboardTapBackend.h"

namespace kelvra {

/// Decides every key event of a tap: which keys are consumed, which pass, and which consumed
/// key-downs are delivered as input. A key's repeats and key-up follow the decision taken at its
/// key-down, whatever changes meanwhile; a key already held when the tap began (first seen as a
/// repeat) is consumed without delivery if assigned. Safe from any thread; `decide` takes one
/// lock, makes one look-up among the held keys and at most one match, and never allocates.
class ClickerKeyDecisionEngine {
public:
    struct Decision {
        KeyboardTapDecision tap = KeyboardTapDecision::pass;
        /// What to deliver; present only for a consumed key-down.
        std::optional<ClickerCapturedInput> input;
    };

    /// As many keys as may be held at once on all keyboards together; a key beyond them is
    /// decided without being remembered, so its key-up passes.
    static constexpr size_t kHeldKeyCapacity = 128;

    explicit ClickerKeyDecisionEngine(
        std::shared_ptr<const ClickerInputConfiguration> configuration = defaultConfiguration());

    /// Takes effect for the next key-down. The previous configuration is released here, never
    /// inside `decide`.
    void setConfiguration(std::shared_ptr<const ClickerInputConfiguration> configuration);

    /// While recording, new key-downs pass so that the recorder sees them.
    void setRecording(bool recording);

    Decision decide(const KeyboardTapEvent& event);

    /// Forgets every held key, for a new run of the tap.
    void clearHeldKeys();
    /// Forgets the held keys of one keyboard, whose key-ups will never come.
    void forgetDevice(uint32_t device);

    static std::shared_ptr<const ClickerInputConfiguration> defaultConfiguration();

private:
    struct HeldKey {
        uint32_t device;
        uint16_t keyCode;
        bool consumed;
    };

    std::mutex lock_;
    std::shared_ptr<const ClickerInputConfiguration> configuration_;
    bool recording_ = false;
    std::array<HeldKey, kHeldKeyCapacity> heldKeys_{};
    size_t heldCount_ = 0;
};

}  // namespace kelvra
