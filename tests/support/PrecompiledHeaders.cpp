// SPDX-License-Identifier: MIT
// Builds a precompiled header of the test frameworks that test executables share.
