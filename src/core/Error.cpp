// SPDX-License-Identifier: MIT
#include "core/Error.h"

#include <cstdio>
#include <system_error>

namespace kelvra {

std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    result += escaped;
                } else {
                    result += c;
                }
        }
    }
    return result + "\"";
}

std::string errorText(int errorNumber) {
    // The standard library reads the text with strerror_r, unlike strerror's shared buffer.
    return errorNumber == 0 ? "unknown error" : std::system_category().message(errorNumber);
}

}  // namespace kelvra
