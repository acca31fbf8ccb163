// SPDX-License-Identifier: MIT
#include "server_config/ServerConfigurationError.h"

#include "core/Error.h"

namespace kelvra {

std::string ServerConfigurationError::description() const {
    switch (kind_) {
        case Kind::applyFailed:
            return "The requested address or port could not be used. The previous server "
                   "settings were restored.\n\n" +
                   detail_;
        case Kind::restoreFailed:
            return "The requested server settings failed, and Kelvra Hub could not restore the "
                   "previous server.\n\n" +
                   detail_;
        case Kind::appIsClosing:
            return "Kelvra Hub is closing.";
    }
    return {};
}

std::string ServerConfigurationError::diagnosticDescription() const {
    switch (kind_) {
        case Kind::applyFailed:
            return "ServerConfigurationError.applyFailed(" + quoted(detail_) + ")";
        case Kind::restoreFailed:
            return "ServerConfigurationError.restoreFailed(" + quoted(detail_) + ")";
        case Kind::appIsClosing:
            return "ServerConfigurationError.appIsClosing";
    }
    return {};
}

}  // namespace kelvra
