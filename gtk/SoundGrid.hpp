#pragma once

#include "DaemonProxy.hpp"
#include "SoundIcons.hpp"
#include "SoundTile.hpp"

#include <somnara/catalogue/SoundTracksStore.hpp>

#include <gtkmm/box.h>
#include <gtkmm/flowbox.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/searchbar.h>
#include <gtkmm/searchentry.h>
#include <gtkmm/switch.h>
#include <gtkmm/togglebutton.h>

#include <map>
#include <memory>
#include <vector>

namespace somnara::gtk {

/// The main view: the fifty sounds as tiles, filtered by the library's fuzzy search and by
/// favourites, with the selection mode. Every change goes to the daemon; the tiles show what the
/// daemon then reports.
///
/// GTK main thread only.
class SoundGrid : public Gtk::Box {
public:
    explicit SoundGrid(DaemonProxy& daemon);

    /// Shows the search field and moves the keyboard focus to it.
    void startSearch();
    /// Typing in `window` while the sounds are shown starts a search.
    void searchWhenTypingIn(Gtk::Widget& window) { searchBar_.set_key_capture_widget(window); }
    /// Draws the pictures in the desktop's light or dark colours.
    void showAppearance(Appearance appearance);

private:
    void propertiesChanged(const std::string& interface, const DaemonProxy::Properties& properties);
    void toggled(SoundTrack soundTrack, bool selected);
    void showSelection();
    void filter();

    DaemonProxy& daemon_;
    SoundTracksStore store_;
    SoundIcons icons_;
    std::map<std::string, double> volumes_;
    /// Each tile's place in the list shown: its rank in the search, or its name's order.
    std::map<const Gtk::Widget*, std::size_t> ranks_;
    std::vector<std::unique_ptr<SoundTile>> tiles_;
    Gtk::Box bar_{Gtk::Orientation::HORIZONTAL, 12};
    Gtk::SearchBar searchBar_;
    Gtk::SearchEntry search_;
    Gtk::ToggleButton favouritesOnly_;
    Gtk::Switch multiple_;
    Gtk::ScrolledWindow scroller_;
    Gtk::FlowBox flow_;
};

} // namespace somnara::gtk
