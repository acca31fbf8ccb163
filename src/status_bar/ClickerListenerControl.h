// SPDX-License-Identifier: MIT
#pragma once

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra {

/// The keyboard listener's lifecycle as the controller drives it: four demands, of which
/// permission and (distribution or test) together keep a listener running. Used on the main
/// thread only.
class ClickerListenerControl {
public:
    virtual ~ClickerListenerControl() = default;

    virtual void setDistributionRequired(bool required) = 0;
    virtual void setTestRequired(bool required) = 0;
    /// Takes effect on a running listener at once; never starts or stops one.
    virtual void setRecordingRequired(bool required) = 0;
    virtual void setPermissionGranted(bool granted) = 0;
    /// Starts or stops the listener to match the demands.
    virtual void reconcile() = 0;
    /// For the next key-down; keys already held keep their earlier decision.
    virtual void updateConfiguration(const ClickerInputConfiguration& configuration) = 0;
};

}  // namespace kelvra
