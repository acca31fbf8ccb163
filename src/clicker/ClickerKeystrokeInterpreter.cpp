// SPDX-License-Identifier: MIT
#include "clicker/ClickerKeystrokeInterpreter.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>
#include <unordered_map>

namespace kelvra::ClickerKeystrokeInterpreter {
namespace {

const std::unordered_map<uint16_t, std::string_view>& specialKeyNames() {
    static const std::unordered_map<uint16_t, std::string_view> names = {
        {36, "Return"},       {48, "Tab"},         {49, "Space"},
        {51, "Delete"},       {64, "F17"},         {71, "Clear"},
        {76, "Enter"},        {79, "F18"},         {80, "F19"},
        {90, "F20"},          {96, "F5"},          {97, "F6"},
        {98, "F7"},           {99, "F3"},          {100, "F8"},
        {101, "F9"},          {103, "F11"},        {105, "F13"},
        {106, "F16"},         {107, "F14"},        {109, "F10"},
        {111, "F12"},         {113, "F15"},        {114, "Help"},
        {115, "Home"},        {116, "Page Up"},    {117, "Forward Delete"},
        {118, "F4"},          {119, "End"},        {120, "F2"},
        {121, "Page Down"},   {122, "F1"},         {123, "Left Arrow"},
        {124, "Right Arrow"}, {125, "Down Arrow"}, {126, "Up Arrow"},
    };
    return names;
}

bool isControlCharacter(UChar32 c) {
    const auto category = u_charType(c);
    return category == U_CONTROL_CHAR || category == U_FORMAT_CHAR;
}

}  // namespace

ClickerKeystrokeInterpretation interpret(
    uint16_t keyCode, uint64_t modifierFlags,
    std::optional<std::string_view> charactersIgnoringModifiers) {
    using Kind = ClickerKeystrokeInterpretation::Kind;
    if (keyCode == ClickerKeyCode::escape) {
        return {Kind::cancel, std::nullopt};
    }
    if (!isRecordableKeyCode(keyCode)) {
        return {Kind::ignored, std::nullopt};
    }
    std::string name;
    if (const auto special = specialKeyName(keyCode)) {
        name = *special;
    } else if (auto printable = printableName(charactersIgnoringModifiers)) {
        name = std::move(*printable);
    } else {
        name = "Key Code " + std::to_string(keyCode);
    }
    return {Kind::keystroke,
            ClickerKeystroke{keyCode, modifierFlags & ClickerModifierFlags::recordable,
                             std::move(name)}};
}

bool isRecordableKeyCode(uint16_t keyCode) {
    return keyCode != ClickerKeyCode::escape && !ClickerKeyCode::isModifier(keyCode);
}

std::optional<std::string_view> specialKeyName(uint16_t keyCode) {
    const auto& names = specialKeyNames();
    const auto found = names.find(keyCode);
    if (found == names.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> printableName(std::optional<std::string_view> text) {
    if (!text || text->empty()) {
        return std::nullopt;
    }
    if (*text == " ") {
        return "Space";
    }
    if (*text == "\t") {
        return "Tab";
    }
    if (*text == "\r" || *text == "\n") {
        return "Return";
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text->data());
    const auto length = static_cast<int32_t>(text->size());
    if (static_cast<size_t>(length) != text->size()) {
        return std::nullopt;
    }
    for (int32_t index = 0; index < length;) {
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        if (c < 0 || isControlCharacter(c)) {
            return std::nullopt;
        }
    }
    auto unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text->data(), length));
    // The root locale: no Turkish dotted I or other language-specific mappings.
    unicode.toUpper(icu::Locale::getRoot());
    std::string upper;
    unicode.toUTF8String(upper);
    return upper;
}

}  // namespace kelvra::ClickerKeystrokeInterpreter
