#pragma once

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace somnara {

/// What the system's media controls show while we play.
enum class NowPlayingPlaybackState { unknown = 0, playing = 1, paused = 2, stopped = 3, interrupted = 4 };

/// The artwork of the selection: a PNG file and the size it is shown at.
struct NowPlayingArtwork {
    double width = 0;
    double height = 0;
    std::filesystem::path image;

    friend bool operator==(const NowPlayingArtwork&, const NowPlayingArtwork&) = default;
};

/// The now-playing dictionary: the title, the time left while a sleep timer runs, the artwork, and
/// whether sound comes out.
struct NowPlayingInfo {
    std::string title;
    /// Seconds until the sleep timer ends, while one runs (negative once passed).
    std::optional<double> playbackDuration;
    int elapsedPlaybackTime = 0;
    std::optional<NowPlayingArtwork> artwork;
    /// 1 while playing, else 0.
    int playbackRate = 0;
    /// 1: audio.
    int mediaType = 1;
    /// The file of the one sound selected, when exactly one is.
    std::optional<std::filesystem::path> assetURL;

    /// A readable dictionary for log lines.
    std::string description() const;

    friend bool operator==(const NowPlayingInfo&, const NowPlayingInfo&) = default;
};

/// Holds the now-playing information and the playback state for whatever shows them (the desktop's media
/// controls over MPRIS, a window). Publishers set them; shows follow the subjects.
///
/// Loop only.
class NowPlayingInfoCenter {
public:
    /// The process-wide centre, made on first use.
    static NowPlayingInfoCenter& defaultCenter();

    NowPlayingInfoCenter();

    void setPlaybackState(NowPlayingPlaybackState state);
    void setNowPlayingInfo(std::optional<NowPlayingInfo> info);

    NowPlayingPlaybackState playbackState() const noexcept { return playbackStateSubject_->currentValue(); }
    const std::optional<NowPlayingInfo>& nowPlayingInfo() const noexcept {
        return nowPlayingInfoSubject_->currentValue();
    }
    const std::shared_ptr<AsyncCurrentValueSubject<NowPlayingPlaybackState>>&
    playbackStateSubject() const noexcept {
        return playbackStateSubject_;
    }
    const std::shared_ptr<AsyncCurrentValueSubject<std::optional<NowPlayingInfo>>>&
    nowPlayingInfoSubject() const noexcept {
        return nowPlayingInfoSubject_;
    }

private:
    std::shared_ptr<AsyncCurrentValueSubject<NowPlayingPlaybackState>> playbackStateSubject_;
    std::shared_ptr<AsyncCurrentValueSubject<std::optional<NowPlayingInfo>>> nowPlayingInfoSubject_;
};

} // namespace somnara
