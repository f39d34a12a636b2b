#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/linux/cairo/CairoImageRenderer.hpp>

#include <gdkmm/texture.h>

#include <map>

namespace somnara::gtk {

/// The sounds' pictures as the now-playing artwork draws them (the library's Cairo renderer and
/// icons), one square per sound in the light or dark colours, drawn once per appearance.
///
/// GTK main thread only.
class SoundIcons {
public:
    SoundIcons();

    Glib::RefPtr<Gdk::Texture> icon(SoundTrack soundTrack, Appearance appearance);

private:
    CairoImageRenderer renderer_;
    std::map<std::pair<SoundTrack::Case, Appearance>, Glib::RefPtr<Gdk::Texture>> textures_;
};

} // namespace somnara::gtk
