#pragma once

#include <somnara/platform/NowPlayingInfoCenter.hpp>
#include <somnara/platform/RemoteCommandCenter.hpp>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace sdbus {
class IConnection;
}

namespace somnara {

/// Thrown when the media controls' bus name has an owner already: another instance serves them.
struct MprisNameTakenError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The desktop's media controls (the shell's media panel, media keys, `playerctl`) over MPRIS2: the
/// player's methods are the remote commands, its playback status and metadata follow the now-playing
/// centre, and its Can* properties follow the commands that have a target.
///
/// Made and destroyed on the loop. Bus callbacks may arrive on any thread: property reads answer from a
/// snapshot the loop keeps, and commands are posted to the loop, so that no library object is touched
/// outside it.
class MprisMediaPlayer {
public:
    static constexpr const char* busName = "org.mpris.MediaPlayer2.somnara";
    static constexpr const char* objectPath = "/org/mpris/MediaPlayer2";

    struct Options {
        /// The name the desktop shows, and the artist of every track.
        std::string identity = "Somnara";
        /// The desktop file's name without ".desktop".
        std::string desktopEntry = "somnara";
        /// Called on the loop after a signal was queued outside the bus's own dispatch, for a
        /// connection that the loop serves and must then write out.
        std::function<void()> sent;
    };

    /// Registers the object on `connection` and claims `busName` without taking it from an owner.
    /// Throws `MprisNameTakenError` when another instance owns the name, `std::runtime_error` when the
    /// bus refuses otherwise.
    MprisMediaPlayer(sdbus::IConnection& connection, NowPlayingInfoCenter& nowPlayingInfoCenter,
                     RemoteCommandCenter& remoteCommandCenter, Options options);
    /// Releases the name and unregisters the object.
    ~MprisMediaPlayer();
    MprisMediaPlayer(const MprisMediaPlayer&) = delete;
    MprisMediaPlayer& operator=(const MprisMediaPlayer&) = delete;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace somnara
