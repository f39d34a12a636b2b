#pragma once

#include <string_view>

// The daemon's names on the session bus, shared by the daemon and its clients. The interface is
// documented in dbus/org.somnara.Somnara.xml.
namespace somnara::app::bus {

inline constexpr const char* name = "org.somnara.Somnara";
inline constexpr const char* objectPath = "/org/somnara/Somnara";

inline constexpr const char* playerInterface = "org.somnara.Somnara.Player";
inline constexpr const char* selectionInterface = "org.somnara.Somnara.Selection";
inline constexpr const char* mixesInterface = "org.somnara.Somnara.Mixes";
inline constexpr const char* favouritesInterface = "org.somnara.Somnara.Favourites";
inline constexpr const char* settingsInterface = "org.somnara.Somnara.Settings";
inline constexpr const char* statisticsInterface = "org.somnara.Somnara.Statistics";
inline constexpr const char* downloadsInterface = "org.somnara.Somnara.Downloads";

/// A request the library refuses (unknown sound, volume out of range, no such mix); the message is the
/// one the command line prints.
inline constexpr const char* invalidArgumentError = "org.somnara.Somnara.Error.InvalidArgument";
/// A request that was valid but failed (the sound server refused the stream, a file was not written).
inline constexpr const char* failedError = "org.somnara.Somnara.Error.Failed";
/// A download asked of a daemon that has no download bucket configured.
inline constexpr const char* noBucketError = "org.somnara.Somnara.Error.NoBucket";

/// Whether a call's error means nobody answers for the daemon's name, as opposed to the daemon refusing
/// the request.
inline bool meansNoDaemon(std::string_view errorName) {
    return errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           errorName.starts_with("org.freedesktop.DBus.Error.Spawn.") ||
           errorName == "org.freedesktop.systemd1.NoSuchUnit";
}

} // namespace somnara::app::bus
