#pragma once

#include "DaemonProxy.hpp"

#include <somnara/settings/NoisePlayerSettings.hpp>
#include <somnara/settings/SettingsField.hpp>

#include <gtkmm/box.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/grid.h>
#include <gtkmm/scrolledwindow.h>

#include <functional>
#include <vector>

namespace somnara::gtk {

/// The sound settings and fade timings, one control per settings field of the library (its name,
/// unit and range), with the presets and a reset. Each change is made with the library's field
/// (which validates it) and sent whole to the daemon, which applies it at once.
///
/// GTK main thread only.
class SettingsView : public Gtk::ScrolledWindow {
public:
    explicit SettingsView(DaemonProxy& daemon);

    /// Reads the daemon's settings afresh.
    void load();

private:
    Gtk::Widget& control(const SettingsField& field);
    void change(const std::function<NoisePlayerSettings(NoisePlayerSettings)>& change);
    void show(const NoisePlayerSettings& settings);

    DaemonProxy& daemon_;
    NoisePlayerSettings settings_;
    /// Set while the controls show the daemon's settings, so that doing so is not taken for a change.
    bool showing_ = false;
    /// Each control's way of showing a value.
    std::vector<std::function<void(const NoisePlayerSettings&)>> shows_;
    Gtk::Box page_{Gtk::Orientation::VERTICAL, 12};
    Gtk::Grid fields_;
    Gtk::Box bands_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::DropDown presets_;
};

} // namespace somnara::gtk
