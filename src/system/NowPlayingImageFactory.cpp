#include <somnara/system/NowPlayingImageFactory.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <exception>
#include <string>

namespace somnara {

namespace {

/// The selection in the order its icons are drawn: by display name.
std::vector<SoundTrack> sortedByName(const NowPlayingImageFactory::SoundTrackSet& soundTracks) {
    std::vector<SoundTrack> sorted(soundTracks.begin(), soundTracks.end());
    std::sort(sorted.begin(), sorted.end(),
              [](const SoundTrack& a, const SoundTrack& b) { return a.name() < b.name(); });
    return sorted;
}

} // namespace

NowPlayingImageFactory::NowPlayingImageFactory(std::shared_ptr<ImageRenderer> renderer)
    : renderer_(std::move(renderer)) {}

NowPlayingImageFactory::Layout NowPlayingImageFactory::layout(const SoundTrackSet& soundTracks) {
    if (soundTracks.empty()) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure("unable to get image size", sourceFile,
                                                            "getNowPlayingLayout(for:)", 61);
        return {};
    }
    auto key = sortedByName(soundTracks);
    if (const auto cached = layouts_.find(key); cached != layouts_.end()) {
        return cached->second;
    }
    // Every icon has the size of the first; without a renderer there is nothing to measure.
    const double width =
        renderer_ ? renderer_->iconWidth(std::string(soundTracks.begin()->imageResource())) : 0.0;
    const auto count = static_cast<double>(soundTracks.size());
    Layout layout;
    layout.imageLength = width;
    layout.edgeXPadding = 0.5 * width;
    layout.interItemXPadding = 0.25 * width;
    const double length = 2 * layout.edgeXPadding + count * width + layout.interItemXPadding * (count - 1);
    layout.outputSize = {length, length};
    layout.imagesYPoint = 0.5 * length - layout.edgeXPadding;
    layouts_.emplace(std::move(key), layout);
    return layout;
}

asio::awaitable<NowPlayingImageFactory::Layout>
NowPlayingImageFactory::getNowPlayingLayout(SoundTrackSet soundTracks) {
    co_return layout(soundTracks);
}

asio::awaitable<std::optional<std::filesystem::path>>
NowPlayingImageFactory::getNowPlayingImage(SoundTrackSet soundTracks) {
    if (!renderer_) {
        co_return std::nullopt;
    }
    const auto appearance = renderer_->appearance();
    const auto geometry = layout(soundTracks);
    std::vector<ImageRenderer::IconPlacement> icons;
    double x = geometry.edgeXPadding;
    for (const auto& soundTrack : sortedByName(soundTracks)) {
        std::string icon(soundTrack.imageResource());
        const double width = renderer_->iconWidth(icon);
        icons.push_back({std::move(icon), x, geometry.imagesYPoint});
        x += geometry.interItemXPadding + width;
    }
    try {
        co_return renderer_->render(geometry.outputSize.width, geometry.outputSize.height, appearance, icons);
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

} // namespace somnara
