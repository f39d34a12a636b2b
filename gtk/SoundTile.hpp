#pragma once

#include <somnara/catalogue/SoundTrack.hpp>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/scale.h>
#include <gtkmm/togglebutton.h>

#include <functional>

namespace somnara::gtk {

/// One sound of the grid: a toggle with its picture and localised name, a star for favourites and,
/// while the sound is selected, its volume slider. It shows what the daemon reports and tells its
/// owner what the user does; it changes nothing by itself.
///
/// GTK main thread only.
class SoundTile : public Gtk::Box {
public:
    struct Actions {
        std::function<void(SoundTrack, bool selected)> toggled;
        std::function<void(SoundTrack, double volume)> volumeChanged;
        std::function<void(SoundTrack, bool favourite)> favouriteToggled;
    };

    SoundTile(SoundTrack soundTrack, Actions actions);

    SoundTrack soundTrack() const { return soundTrack_; }
    bool favourite() const { return favourite_; }

    void setIcon(const Glib::RefPtr<Gdk::Paintable>& icon) { image_.set(icon); }
    /// The daemon's view: selected at `volume`, or not selected.
    void showSelection(std::optional<double> volume);
    void showFavourite(bool favourite);

private:
    SoundTrack soundTrack_;
    Actions actions_;
    bool favourite_ = false;
    std::optional<double> shown_;
    /// Set while the tile shows the daemon's state, so that doing so is not taken for the user's act.
    bool showing_ = false;
    /// Whether a pointer button is down on the volume slider.
    bool held_ = false;
    Gtk::ToggleButton toggle_;
    Gtk::Box content_{Gtk::Orientation::VERTICAL, 4};
    Gtk::Image image_;
    Gtk::Label name_;
    Gtk::Button star_;
    Gtk::Scale volume_;
};

} // namespace somnara::gtk
