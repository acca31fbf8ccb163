// SPDX-License-Identifier: MIT
#include "core/Unicode.h"

#include <cstdint>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace kelvra::Unicode {
namespace {

bool isWhiteSpace(UChar32 c) {
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

}  // namespace

std::string trimmed(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());

    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (!isWhiteSpace(c)) {
            break;
        }
        start = next;
    }

    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (!isWhiteSpace(c)) {
            break;
        }
        end = previous;
    }
    return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

bool isValidUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t index = 0; index < length;) {
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

size_t userPerceivedCharacterCount(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    icu::LocalPointer<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    size_t count = 0;
    if (U_SUCCESS(status)) {
        characters->setText(utext, status);
        for (int32_t boundary = characters->next(); boundary != icu::BreakIterator::DONE;
             boundary = characters->next()) {
            ++count;
        }
    }
    utext_close(utext);
    return count;
}

std::string repairedUTF8(std::string_view text) {
    if (isValidUTF8(text)) {
        return std::string(text);
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    std::string repaired;
    repaired.reserve(text.size() + 8);
    for (int32_t index = 0; index < length;) {
        const int32_t start = index;
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        if (c < 0) {
            repaired += "\xEF\xBF\xBD";
        } else {
            repaired.append(
                text.substr(static_cast<size_t>(start), static_cast<size_t>(index - start)));
        }
    }
    return repaired;
}

}  // namespace kelvra::Unicode
