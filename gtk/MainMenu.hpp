#pragma once

#include "DaemonProxy.hpp"

#include <giomm/menu.h>
#include <giomm/simpleactiongroup.h>
#include <gtkmm/menubutton.h>

namespace somnara::gtk {

/// The header's menu: save the selection as a mix, pick or delete a saved mix (listed afresh from
/// the daemon each time the menu opens), and the settings, statistics and lossless downloads pages
/// (the window's "win.settings", "win.statistics" and "win.downloads" actions).
///
/// GTK main thread only.
class MainMenu : public Gtk::MenuButton {
public:
    explicit MainMenu(DaemonProxy& daemon);

private:
    void listMixes();
    void askForMixName();

    DaemonProxy& daemon_;
    Glib::RefPtr<Gio::SimpleActionGroup> actions_;
    Glib::RefPtr<Gio::Menu> pick_;
    Glib::RefPtr<Gio::Menu> remove_;
};

} // namespace somnara::gtk
