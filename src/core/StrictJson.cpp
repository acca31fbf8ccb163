// SPDX-License-Identifier: MIT
#include "core/StrictJson.h"

namespace kelvra::StrictJson {
namespace {

using nlohmann::json;

/// Accepts every event and fails the parse once the nesting passes the limit.
class DepthLimit {
public:
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(json::number_integer_t) { return true; }
    bool number_unsigned(json::number_unsigned_t) { return true; }
    bool number_float(json::number_float_t, const json::string_t&) { return true; }
    bool string(json::string_t&) { return true; }
    bool binary(json::binary_t&) { return true; }
    bool start_object(std::size_t) { return enter(); }
    bool key(json::string_t&) { return true; }
    bool end_object() { return leave(); }
    bool start_array(std::size_t) { return enter(); }
    bool end_array() { return leave(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

private:
    bool enter() { return ++depth_ <= kMaximumDepth; }
    bool leave() {
        --depth_;
        return true;
    }

    int depth_ = 0;
};

}  // namespace

std::optional<json::object_t> parseObject(std::string_view bytes) {
    DepthLimit limit;
    if (!json::sax_parse(bytes.begin(), bytes.end(), &limit, json::input_format_t::json, true,
                         false)) {
        return std::nullopt;
    }
    auto document = json::parse(bytes.begin(), bytes.end(), nullptr, false, false);
    if (!document.is_object()) {
        return std::nullopt;
    }
    return std::move(document.get_ref<json::object_t&>());
}

}  // namespace kelvra::StrictJson
