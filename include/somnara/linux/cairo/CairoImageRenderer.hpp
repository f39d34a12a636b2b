#pragma once

#include <somnara/platform/ImageRenderer.hpp>
#include <somnara/platform/NowPlayingInfoCenter.hpp>
#include <somnara/runtime/Task.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace somnara {

/// Draws the now-playing artwork with Cairo: the sounds' stroked icons and the two named colours from
/// the resources' "NowPlaying/Artwork.json", written as PNG files named after their content, so that
/// the same picture keeps the same address and the desktop's media controls can cache it.
///
/// Loop only.
class CairoImageRenderer final : public ImageRenderer {
public:
    using AppearanceSource = std::function<Appearance()>;

    /// Draws into `directory` with the artwork resources at `artworkFile`, asking `appearanceSource` for
    /// the desktop's appearance at each image. Throws `std::runtime_error` when the resources cannot be
    /// read.
    CairoImageRenderer(std::filesystem::path directory, std::filesystem::path artworkFile,
                       AppearanceSource appearanceSource);
    /// Draws into `defaultDirectory()` with the library's resources and the desktop's appearance.
    CairoImageRenderer();
    ~CairoImageRenderer() override;

    /// `$XDG_CACHE_HOME/somnara/artwork`, or `~/.cache/somnara/artwork`.
    static std::filesystem::path defaultDirectory();
    /// Dark when `GTK_THEME` names a dark variant or the desktop prefers dark colours
    /// (`org.gnome.desktop.interface color-scheme`), light otherwise or when neither can be read.
    static Appearance desktopAppearance();

    Appearance appearance() const override;
    double iconWidth(const std::string& icon) const override;
    std::filesystem::path render(double width, double height, Appearance appearance,
                                 const std::vector<IconPlacement>& icons) override;

    /// Follows what `center` shows and removes the pictures of this directory that it no longer
    /// references: those from earlier runs, and each one once a newer one has replaced it. Pictures
    /// drawn after the one shown are kept, as an update may still be on its way.
    void removeUnreferencedImages(NowPlayingInfoCenter& center);

private:
    struct Resources;
    void removeAllBut(const std::filesystem::path& shown);

    std::filesystem::path directory_;
    std::unique_ptr<const Resources> resources_;
    AppearanceSource appearanceSource_;
    /// The pictures drawn by this renderer, with the order they were drawn in.
    std::map<std::filesystem::path, std::uint64_t> drawn_;
    std::uint64_t drawCount_ = 0;
    Task<void> referenceFollower_;
};

} // namespace somnara
