#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/platform/ImageRenderer.hpp>

#include <asio/awaitable.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace somnara {

/// Draws the artwork of a selection for the now-playing display: the selected sounds' icons side by
/// side, in the order of their names, centred on a square background.
///
/// Loop only. The geometry is computed once per distinct selection; every image is drawn afresh.
class NowPlayingImageFactory {
public:
    using SoundTrackSet = std::unordered_set<SoundTrack>;

    struct Size {
        double width = 0;
        double height = 0;
        friend bool operator==(const Size&, const Size&) = default;
    };
    /// Where the icons go, in points.
    struct Layout {
        Size outputSize;
        double imageLength = 0;
        double edgeXPadding = 0;
        double interItemXPadding = 0;
        double imagesYPoint = 0;
        friend bool operator==(const Layout&, const Layout&) = default;
    };

    static constexpr const char* sourceFile = "SomnaraKit/NowPlayingImageFactory";

    /// A factory drawing with `renderer`; without one it computes layouts but has no images.
    explicit NowPlayingImageFactory(std::shared_ptr<ImageRenderer> renderer);

    /// The layout of `soundTracks`; all zeros (with a logged assertion) for an empty set.
    [[nodiscard]] asio::awaitable<Layout> getNowPlayingLayout(SoundTrackSet soundTracks);
    /// The artwork's PNG file; none without a renderer or when it cannot be drawn.
    [[nodiscard]] asio::awaitable<std::optional<std::filesystem::path>>
    getNowPlayingImage(SoundTrackSet soundTracks);

    /// How many distinct selections have a cached layout.
    std::size_t cachedLayoutCount() const noexcept { return layouts_.size(); }

private:
    Layout layout(const SoundTrackSet& soundTracks);

    std::shared_ptr<ImageRenderer> renderer_;
    std::map<std::vector<SoundTrack>, Layout> layouts_;
};

} // namespace somnara
