#include <somnara/platform/NowPlayingInfoCenter.hpp>

#include <sstream>

namespace somnara {

std::string NowPlayingInfo::description() const {
    std::ostringstream text;
    text << "[title: \"" << title << "\"";
    if (playbackDuration) {
        text << ", playbackDuration: " << *playbackDuration;
    }
    text << ", elapsedPlaybackTime: " << elapsedPlaybackTime;
    if (artwork) {
        text << ", artwork: " << artwork->width << "x" << artwork->height << " " << artwork->image.string();
    }
    text << ", playbackRate: " << playbackRate << ", mediaType: " << mediaType;
    if (assetURL) {
        text << ", assetURL: file://" << assetURL->string();
    }
    text << "]";
    return text.str();
}

NowPlayingInfoCenter& NowPlayingInfoCenter::defaultCenter() {
    static NowPlayingInfoCenter center;
    return center;
}

NowPlayingInfoCenter::NowPlayingInfoCenter()
    : playbackStateSubject_(
          AsyncCurrentValueSubject<NowPlayingPlaybackState>::make(NowPlayingPlaybackState::unknown)),
      nowPlayingInfoSubject_(AsyncCurrentValueSubject<std::optional<NowPlayingInfo>>::make(std::nullopt)) {}

void NowPlayingInfoCenter::setPlaybackState(NowPlayingPlaybackState state) {
    playbackStateSubject_->send(state);
}

void NowPlayingInfoCenter::setNowPlayingInfo(std::optional<NowPlayingInfo> info) {
    nowPlayingInfoSubject_->send(std::move(info));
}

} // namespace somnara
