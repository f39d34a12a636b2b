#pragma once

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/runtime/Date.hpp>

#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace somnara {

/// One value kept in user defaults, with its type: bytes, a date, an integer, a double, a string, a
/// boolean, or an array or dictionary of such values. A reader can ask what it holds ("is it a
/// date") instead of guessing from a serialised form.
class UserDefaultsValue {
public:
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<UserDefaultsValue>;
    using Dictionary = std::map<std::string, UserDefaultsValue>;
    using Storage = std::variant<Data, Date, std::int64_t, double, std::string, bool, Array, Dictionary>;

    UserDefaultsValue(Data value) : storage_(std::move(value)) {}
    UserDefaultsValue(Date value) : storage_(value) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) UserDefaultsValue(T value)
        : storage_(static_cast<std::int64_t>(value)) {}
    UserDefaultsValue(double value) : storage_(value) {}
    UserDefaultsValue(float value) : storage_(static_cast<double>(value)) {}
    UserDefaultsValue(std::string value) : storage_(std::move(value)) {}
    // Without this a string literal would become a bool.
    UserDefaultsValue(const char* value) : storage_(std::string(value)) {}
    UserDefaultsValue(bool value) : storage_(value) {}
    UserDefaultsValue(Array value) : storage_(std::move(value)) {}
    UserDefaultsValue(Dictionary value) : storage_(std::move(value)) {}

    const Storage& storage() const noexcept { return storage_; }

    bool isData() const noexcept { return std::holds_alternative<Data>(storage_); }
    bool isDate() const noexcept { return std::holds_alternative<Date>(storage_); }
    bool isInteger() const noexcept { return std::holds_alternative<std::int64_t>(storage_); }
    bool isDouble() const noexcept { return std::holds_alternative<double>(storage_); }
    bool isString() const noexcept { return std::holds_alternative<std::string>(storage_); }
    bool isBool() const noexcept { return std::holds_alternative<bool>(storage_); }
    bool isArray() const noexcept { return std::holds_alternative<Array>(storage_); }
    bool isDictionary() const noexcept { return std::holds_alternative<Dictionary>(storage_); }

    /// The value when it has exactly that type, else null.
    template <class T>
    const T* get() const noexcept {
        return std::get_if<T>(&storage_);
    }

    friend bool operator==(const UserDefaultsValue&, const UserDefaultsValue&) = default;

private:
    Storage storage_;
};

/// The small persistent key-value store of the platform: the standard defaults of the app, and named
/// suites that several processes share (the app group "group.somnara", used by the app and its
/// daemon).
///
/// Every change is persisted at once and never loses a key written by another process sharing the
/// suite. Operations are synchronous: they do small, local file I/O and do not need the loop, so they
/// may be called from any thread and from inside or outside coroutines.
///
/// The typed getters follow the platform's conversions: numbers, booleans and numeric strings convert
/// into one another; a missing key gives 0, false or none.
class UserDefaults {
public:
    using Value = UserDefaultsValue;

    /// The suite of the app group shared by the app and its daemon.
    static constexpr const char* appGroupSuiteName = "group.somnara";

    virtual ~UserDefaults() = default;

    /// The value under `key`, with its type, or none.
    virtual std::optional<Value> object(const std::string& key) const = 0;
    virtual void set(Value value, const std::string& key) = 0;
    virtual void removeObject(const std::string& key) = 0;
    virtual Value::Dictionary dictionaryRepresentation() const = 0;

    std::optional<Value::Data> data(const std::string& key) const;
    /// A string, or a number written as text (as the platform does).
    std::optional<std::string> string(const std::string& key) const;
    std::int64_t integer(const std::string& key) const;
    double doubleValue(const std::string& key) const;
    bool boolValue(const std::string& key) const;
    std::optional<Date> date(const std::string& key) const;
    std::optional<Value::Array> array(const std::string& key) const;
    std::optional<Value::Dictionary> dictionary(const std::string& key) const;

    /// Keeps `data`, a value of `key` that cannot be decoded, beside it under "<key>.corrupt-<UTC
    /// time>" (the time being `now`), so that the next write of `key` destroys nothing without a copy.
    /// Returns the copy's key, or none when an earlier copy holds the same bytes (kept, and said, before).
    std::optional<std::string> keepUnreadable(const std::string& key, const Value::Data& data, Date now);

    /// The process-wide standard defaults and suites, created on first use in the platform's user
    /// defaults directory (`FileLocations::userDefaultsDirectory`). Suite names may not be empty or hold
    /// '/' (`std::invalid_argument`). Defined by the area `linux_files`.
    static std::shared_ptr<UserDefaults> standard();
    static std::shared_ptr<UserDefaults> suite(const std::string& name);
    /// Forgets the process-wide instances, so that the next use creates them again where the file
    /// locations say now (tests that point `SOMNARA_HOME` or `FileLocations::setShared` elsewhere).
    static void resetShared();
};

namespace detail {

inline std::optional<double> parseUserDefaultsNumber(const std::string& text) {
    double number = 0;
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, number);
    if (result.ec != std::errc{} || result.ptr != end) {
        return std::nullopt;
    }
    return number;
}

inline std::optional<double> userDefaultsNumber(const UserDefaultsValue& value) {
    if (const auto* integer = value.get<std::int64_t>()) {
        return static_cast<double>(*integer);
    }
    if (const auto* number = value.get<double>()) {
        return *number;
    }
    if (const auto* flag = value.get<bool>()) {
        return *flag ? 1.0 : 0.0;
    }
    if (const auto* text = value.get<std::string>()) {
        return parseUserDefaultsNumber(*text);
    }
    return std::nullopt;
}

} // namespace detail

inline std::optional<UserDefaultsValue::Data> UserDefaults::data(const std::string& key) const {
    const auto value = object(key);
    if (value && value->isData()) {
        return *value->get<Value::Data>();
    }
    return std::nullopt;
}

inline std::optional<std::string> UserDefaults::keepUnreadable(const std::string& key,
                                                               const Value::Data& data, Date now) {
    const auto prefix = key + ".corrupt-";
    for (const auto& [otherKey, value] : dictionaryRepresentation()) {
        const auto* kept = value.get<Value::Data>();
        if (otherKey.starts_with(prefix) && kept != nullptr && *kept == data) {
            return std::nullopt;
        }
    }
    auto copyKey = key + corruptCopySuffix(now.toSystemClock());
    set(Value(data), copyKey);
    return copyKey;
}

inline std::optional<std::string> UserDefaults::string(const std::string& key) const {
    const auto value = object(key);
    if (!value) {
        return std::nullopt;
    }
    if (const auto* text = value->get<std::string>()) {
        return *text;
    }
    if (const auto* integer = value->get<std::int64_t>()) {
        return std::to_string(*integer);
    }
    if (const auto* number = value->get<double>()) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, *number).ptr;
        return std::string(text, end);
    }
    return std::nullopt;
}

inline std::int64_t UserDefaults::integer(const std::string& key) const {
    const auto value = object(key);
    if (!value) {
        return 0;
    }
    if (const auto* integer = value->get<std::int64_t>()) {
        return *integer;
    }
    const auto number = detail::userDefaultsNumber(*value);
    // Truncates toward zero as the platform does; what does not fit gives 0 rather than undefined behaviour.
    if (!number || !std::isfinite(*number) || std::abs(*number) >= 9.2233720368547758e18) {
        return 0;
    }
    return static_cast<std::int64_t>(*number);
}

inline double UserDefaults::doubleValue(const std::string& key) const {
    const auto value = object(key);
    return value ? detail::userDefaultsNumber(*value).value_or(0.0) : 0.0;
}

inline bool UserDefaults::boolValue(const std::string& key) const {
    const auto value = object(key);
    if (!value) {
        return false;
    }
    if (const auto* text = value->get<std::string>()) {
        if (*text == "true" || *text == "YES" || *text == "yes") {
            return true;
        }
    }
    const auto number = detail::userDefaultsNumber(*value);
    return number && *number != 0.0;
}

inline std::optional<Date> UserDefaults::date(const std::string& key) const {
    const auto value = object(key);
    if (value && value->isDate()) {
        return *value->get<Date>();
    }
    return std::nullopt;
}

inline std::optional<UserDefaultsValue::Array> UserDefaults::array(const std::string& key) const {
    const auto value = object(key);
    if (value && value->isArray()) {
        return *value->get<Value::Array>();
    }
    return std::nullopt;
}

inline std::optional<UserDefaultsValue::Dictionary> UserDefaults::dictionary(const std::string& key) const {
    const auto value = object(key);
    if (value && value->isDictionary()) {
        return *value->get<Value::Dictionary>();
    }
    return std::nullopt;
}

} // namespace somnara
