#include "SoundTile.hpp"

#include <glib.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/eventcontrollerlegacy.h>

namespace somnara::gtk {

SoundTile::SoundTile(SoundTrack soundTrack, Actions actions)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 2), soundTrack_(soundTrack), actions_(std::move(actions)),
      name_(soundTrack.name()), volume_(Gtk::Adjustment::create(1.0, 0.0, 1.0, 0.05, 0.1)) {
    const std::string identifier(soundTrack.identifier());
    set_name("tile-" + identifier);
    add_css_class("card");
    image_.set_pixel_size(56);
    name_.set_wrap(true);
    name_.set_justify(Gtk::Justification::CENTER);
    name_.set_max_width_chars(12);
    content_.append(image_);
    content_.append(name_);
    toggle_.set_child(content_);
    toggle_.add_css_class("flat");
    toggle_.set_tooltip_text(soundTrack.name());
    toggle_.signal_toggled().connect([this] {
        if (!showing_) {
            actions_.toggled(soundTrack_, toggle_.get_active());
        }
    });
    star_.set_icon_name("non-starred-symbolic");
    star_.add_css_class("flat");
    star_.set_halign(Gtk::Align::END);
    star_.set_tooltip_text("Favourite");
    star_.signal_clicked().connect([this] { actions_.favouriteToggled(soundTrack_, !favourite_); });
    volume_.set_name("volume-" + identifier);
    volume_.set_draw_value(false);
    volume_.set_digits(2);
    volume_.set_visible(false);
    volume_.signal_value_changed().connect([this] {
        if (!showing_) {
            actions_.volumeChanged(soundTrack_, volume_.get_value());
        }
    });
    // While the user holds the slider, the daemon's answers to the moves are not shown: a late one
    // would pull the knob back under the pointer.
    const auto pointer = Gtk::EventControllerLegacy::create();
    pointer->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    pointer->signal_event().connect(
        [this](const Glib::RefPtr<const Gdk::Event>& event) {
            if (event->get_event_type() == Gdk::Event::Type::BUTTON_PRESS) {
                held_ = true;
            } else if (event->get_event_type() == Gdk::Event::Type::BUTTON_RELEASE) {
                held_ = false;
            }
            return false;
        },
        false);
    volume_.add_controller(pointer);
    append(star_);
    append(toggle_);
    append(volume_);
}

void SoundTile::showSelection(std::optional<double> volume) {
    if (volume == shown_ && toggle_.get_active() == volume.has_value()) {
        return;
    }
    showing_ = true;
    toggle_.set_active(volume.has_value());
    volume_.set_visible(volume.has_value());
    if (volume && !held_) {
        volume_.set_value(*volume);
    }
    showing_ = false;
    shown_ = volume;
    // What the slider now shows, read back from it.
    const std::string identifier(soundTrack_.identifier());
    if (volume_.get_visible()) {
        g_debug("sound %s at %.3f", identifier.c_str(), volume_.get_value());
    } else {
        g_debug("sound %s off", identifier.c_str());
    }
}

void SoundTile::showFavourite(bool favourite) {
    favourite_ = favourite;
    star_.set_icon_name(favourite ? "starred-symbolic" : "non-starred-symbolic");
}

} // namespace somnara::gtk
