#pragma once

#include "DaemonProxy.hpp"

#include <giomm/simpleactiongroup.h>
#include <gtkmm/menubutton.h>

namespace somnara::gtk {

/// The header's sleep-timer button: a menu of durations within the player's sleep range, and while a
/// timer runs, the time left (the daemon's SleepTimeRemaining) on the button and a way to cancel it.
///
/// GTK main thread only.
class SleepTimerMenu : public Gtk::MenuButton {
public:
    explicit SleepTimerMenu(DaemonProxy& daemon);

private:
    void showRemaining(double seconds);

    DaemonProxy& daemon_;
    Glib::RefPtr<Gio::SimpleActionGroup> actions_;
};

} // namespace somnara::gtk
