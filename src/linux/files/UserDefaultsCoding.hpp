#pragma once

#include <somnara/platform/UserDefaults.hpp>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace somnara::userdefaults {

nlohmann::json encode(const UserDefaultsValue& value);
/// None when `json` holds no value of ours (null, a malformed tag).
std::optional<UserDefaultsValue> decode(const nlohmann::json& json);

/// The whole file: a JSON object of keys to encoded values.
std::string encodeFile(const UserDefaultsValue::Dictionary& values);
/// Keys whose values cannot be decoded are left out, and named in `undecodable` when given (null
/// values aside: they mean unset); throws `std::runtime_error` when the text is not a JSON object.
UserDefaultsValue::Dictionary decodeFile(std::string_view text,
                                         std::vector<std::string>* undecodable = nullptr);

} // namespace somnara::userdefaults
