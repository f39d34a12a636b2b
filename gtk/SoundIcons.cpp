#include "SoundIcons.hpp"

#include <somnara/foundation/Bundle.hpp>

namespace somnara::gtk {

// A directory of its own: the daemon removes the artwork it no longer shows from the default one.
SoundIcons::SoundIcons()
    : renderer_(CairoImageRenderer::defaultDirectory().parent_path() / "icons",
                Bundle::module().resourcesDirectory() / "NowPlaying" / "Artwork.json",
                CairoImageRenderer::desktopAppearance) {}

Glib::RefPtr<Gdk::Texture> SoundIcons::icon(SoundTrack soundTrack, Appearance appearance) {
    auto& texture = textures_[{soundTrack.value(), appearance}];
    if (!texture) {
        const std::string name(soundTrack.imageResource());
        const double side = renderer_.iconWidth(name);
        texture =
            Gdk::Texture::create_from_filename(renderer_.render(side, side, appearance, {{name, 0, 0}}));
    }
    return texture;
}

} // namespace somnara::gtk
