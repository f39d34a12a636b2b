#pragma once

#include "DaemonProxy.hpp"
#include "DownloadsView.hpp"
#include "MainMenu.hpp"
#include "SettingsView.hpp"
#include "SleepTimerMenu.hpp"
#include "SoundGrid.hpp"
#include "StatisticsView.hpp"

#include <adwaita.h>
#include <gdkmm/frameclock.h>
#include <gtkmm/applicationwindow.h>
#include <gtkmm/button.h>
#include <gtkmm/headerbar.h>
#include <gtkmm/label.h>
#include <gtkmm/stack.h>

namespace somnara::gtk {

/// The mixer's window: the header (play or pause, the selection's name, the sleep timer, the menu
/// with mixes, settings, statistics and downloads) over the sounds, the settings, the statistics or the
/// lossless downloads; a page that
/// says why when the daemon cannot be reached.
///
/// GTK main thread only.
class MainWindow : public Gtk::ApplicationWindow {
public:
    explicit MainWindow(DaemonProxy& daemon);
    ~MainWindow() override;

    /// A libadwaita status page saying that the daemon cannot be reached and why.
    static Gtk::Widget* unreachablePage(const std::string& why);

private:
    void propertiesChanged(const std::string& interface, const DaemonProxy::Properties& properties);
    void reachable(bool reachable, const std::string& why);
    void sayReady();
    void showPage(const char* name);
    void addActions();
    void addKeys();
    void logPlaces(Gtk::Widget& widget);

    DaemonProxy& daemon_;
    bool playing_ = false;
    std::optional<bool> reachable_;
    bool shown_ = false;
    sigc::connection painted_;
    Gtk::HeaderBar header_;
    Gtk::Button back_;
    Gtk::Button play_;
    Gtk::Label title_;
    SleepTimerMenu timer_;
    MainMenu menu_;
    Gtk::Stack stack_;
    SoundGrid grid_;
    SettingsView settings_;
    StatisticsView statistics_;
    DownloadsView downloads_;
    Gtk::Widget* unreachable_ = nullptr;
    AdwToastOverlay* toasts_;
    guint placesSource_ = 0;
};

} // namespace somnara::gtk
