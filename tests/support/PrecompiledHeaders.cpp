// SPDX-License-Identifier: MIT
// Builds the test frameworks' precompiled header that the Qt-free test executables share.
