// SPDX-License-Identifier: MIT
// Force-included into the fuzz build only. clang 14 cannot use libstdc++ 12's <expected>, which
// asks for a newer concepts level, so this supplies the part of std::expected that the product
// libraries the fuzzer links use. Builds with a complete <expected> skip it.
#pragma once

#include <version>

#if !defined(__cpp_lib_expected)
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace std {

template <class E>
class unexpected {
public:
    template <class G = E, enable_if_t<is_constructible_v<E, G&&>, int> = 0>
    constexpr explicit unexpected(G&& error) : error_(std::forward<G>(error)) {}
    constexpr const E& error() const& noexcept { return error_; }
    constexpr E& error() & noexcept { return error_; }
    constexpr E&& error() && noexcept { return std::move(error_); }

private:
    E error_;
};

template <class E>
unexpected(E) -> unexpected<E>;

template <class T, class E>
class expected {
public:
    template <class U = T,
              enable_if_t<is_constructible_v<T, U&&> && !is_same_v<remove_cvref_t<U>, expected> &&
                              !is_same_v<remove_cvref_t<U>, in_place_t>,
                          int> = 0>
    constexpr expected(U&& value) : storage_(in_place_index<0>, std::forward<U>(value)) {}
    template <class G>
    constexpr expected(const unexpected<G>& error) : storage_(in_place_index<1>, error.error()) {}
    template <class G>
    constexpr expected(unexpected<G>&& error)
        : storage_(in_place_index<1>, std::move(error).error()) {}

    constexpr bool has_value() const noexcept { return storage_.index() == 0; }
    constexpr explicit operator bool() const noexcept { return has_value(); }

    constexpr const T& operator*() const& { return get<0>(storage_); }
    constexpr T& operator*() & { return get<0>(storage_); }
    constexpr T&& operator*() && { return get<0>(std::move(storage_)); }
    constexpr const T* operator->() const { return &get<0>(storage_); }
    constexpr T* operator->() { return &get<0>(storage_); }
    constexpr const T& value() const& { return get<0>(storage_); }
    constexpr T& value() & { return get<0>(storage_); }
    constexpr T&& value() && { return get<0>(std::move(storage_)); }
    template <class U>
    constexpr T value_or(U&& fallback) const& {
        return has_value() ? **this : static_cast<T>(std::forward<U>(fallback));
    }
    template <class U>
    constexpr T value_or(U&& fallback) && {
        return has_value() ? std::move(**this) : static_cast<T>(std::forward<U>(fallback));
    }
    constexpr const E& error() const& { return get<1>(storage_); }
    constexpr E& error() & { return get<1>(storage_); }
    constexpr E&& error() && { return get<1>(std::move(storage_)); }

private:
    variant<T, E> storage_;
};

template <class E>
class expected<void, E> {
public:
    constexpr expected() = default;
    template <class G>
    constexpr expected(const unexpected<G>& error) : error_(error.error()) {}
    template <class G>
    constexpr expected(unexpected<G>&& error) : error_(std::move(error).error()) {}

    constexpr bool has_value() const noexcept { return !error_.has_value(); }
    constexpr explicit operator bool() const noexcept { return has_value(); }
    constexpr void value() const {}
    constexpr const E& error() const& { return *error_; }
    constexpr E& error() & { return *error_; }
    constexpr E&& error() && { return std::move(*error_); }

private:
    optional<E> error_;
};

}  // namespace std
#endif
