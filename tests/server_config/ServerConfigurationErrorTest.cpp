// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "server_config/ServerConfigurationError.h"

namespace kelvra {
namespace {

TEST(ServerConfigurationErrorTest, DescribesEachCase) {
    const struct {
        ServerConfigurationError error;
        std::string description;
        std::string diagnostic;
    } rows[] = {
        {ServerConfigurationError::applyFailed("x"),
         "The requested address or port could not be used. The previous server settings were "
         "restored.\n\nx",
         "ServerConfigurationError.applyFailed(\"x\")"},
        {ServerConfigurationError::restoreFailed("Port 8080 is already in use."),
         "The requested server settings failed, and Kelvra Hub could not restore the previous "
         "server.\n\nPort 8080 is already in use.",
         "ServerConfigurationError.restoreFailed(\"Port 8080 is already in use.\")"},
        {ServerConfigurationError::applyFailed(""),
         "The requested address or port could not be used. The previous server settings were "
         "restored.\n\n",
         "ServerConfigurationError.applyFailed(\"\")"},
        {ServerConfigurationError::appIsClosing(), "Kelvra Hub is closing.",
         "ServerConfigurationError.appIsClosing"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.error.description(), row.description);
        EXPECT_EQ(row.error.diagnosticDescription(), row.diagnostic);
    }
}

}  // namespace
}  // namespace kelvra
