#pragma once

#include <somnara/platform/CloudKeyValueStore.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace somnara::linux_cloud {

/// The content of one key file: the key and its value with the value's type spelled out, so that a
/// string and bytes holding the same text stay apart, and a date stays a date:
///
///   {"key":"sound_track_favourites","type":"data","value":"WzMsNV0="}
///
/// Types: "data" (base64), "string", "integer", "real", "bool", "date" (seconds since 2001-01-01 UTC),
/// "json" (an array or a dictionary as it is).
struct CloudValueEnvelope {
    std::string key;
    CloudValue value;

    std::string encode() const;
    /// None when `text` is not an envelope: a file being written by a program that does not write
    /// atomically, or not ours at all.
    static std::optional<CloudValueEnvelope> decode(std::string_view text);
};

} // namespace somnara::linux_cloud
