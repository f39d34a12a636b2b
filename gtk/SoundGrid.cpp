#include "SoundGrid.hpp"

#include <somnara/catalogue/SelectionMode.hpp>

#include <gtkmm/label.h>

#include <algorithm>

namespace somnara::gtk {

namespace {

std::vector<SoundTrack> byName() {
    std::vector<SoundTrack> sorted(SoundTrack::allCases().begin(), SoundTrack::allCases().end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

std::string identifierOf(SoundTrack soundTrack) {
    return std::string(soundTrack.identifier());
}

} // namespace

SoundGrid::SoundGrid(DaemonProxy& daemon)
    : Gtk::Box(Gtk::Orientation::VERTICAL), daemon_(daemon), store_(byName()) {
    using namespace app::bus;
    const SoundTile::Actions actions{
        [this](SoundTrack soundTrack, bool selected) { toggled(soundTrack, selected); },
        [this](SoundTrack soundTrack, double volume) {
            daemon_.call(selectionInterface, "SetVolume", std::tuple{identifierOf(soundTrack), volume});
        },
        [this](SoundTrack soundTrack, bool favourite) {
            daemon_.call(favouritesInterface, favourite ? "Add" : "Remove",
                         std::tuple{identifierOf(soundTrack)});
        }};
    for (const auto soundTrack : store_.soundTracks()) {
        auto& tile = *tiles_.emplace_back(std::make_unique<SoundTile>(soundTrack, actions));
        flow_.append(tile);
    }
    flow_.set_selection_mode(Gtk::SelectionMode::NONE);
    flow_.set_homogeneous(true);
    flow_.set_max_children_per_line(10);
    flow_.set_valign(Gtk::Align::START);
    flow_.set_margin(12);
    flow_.set_sort_func([this](Gtk::FlowBoxChild* a, Gtk::FlowBoxChild* b) {
        const auto rank = [this](Gtk::FlowBoxChild* child) {
            const auto found = ranks_.find(child->get_child());
            return found == ranks_.end() ? tiles_.size() : found->second;
        };
        return static_cast<int>(rank(a)) - static_cast<int>(rank(b));
    });
    flow_.set_filter_func([this](Gtk::FlowBoxChild* child) { return ranks_.contains(child->get_child()); });
    scroller_.set_child(flow_);
    scroller_.set_vexpand(true);

    search_.set_name("search");
    g_object_set(search_.gobj(), "placeholder-text", "Search sounds", nullptr);
    search_.signal_search_changed().connect([this] { filter(); });
    // Enter toggles the best match, so that a sound is picked without the mouse.
    search_.signal_activate().connect([this] {
        const auto found = store_.search(std::string(search_.get_text()));
        if (found) {
            toggled(*found, !volumes_.contains(identifierOf(*found)));
        }
    });
    searchBar_.set_child(search_);
    searchBar_.connect_entry(search_);
    searchBar_.set_show_close_button(true);

    favouritesOnly_.set_icon_name("starred-symbolic");
    favouritesOnly_.set_tooltip_text("Only favourites");
    favouritesOnly_.signal_toggled().connect([this] { filter(); });
    auto* modeLabel = Gtk::make_managed<Gtk::Label>("Mix several sounds");
    multiple_.set_name("multiple");
    multiple_.signal_state_set().connect(
        [this](bool multiple) {
            daemon_.call(selectionInterface, "SetMode",
                         std::tuple{std::string(
                             selectionModeName(multiple ? SelectionMode::multiple : SelectionMode::single))});
            return true;
        },
        false);
    bar_.set_margin(12);
    bar_.append(favouritesOnly_);
    bar_.append(*modeLabel);
    bar_.append(multiple_);
    append(searchBar_);
    append(bar_);
    append(scroller_);

    daemon_.signalChanged().connect(sigc::mem_fun(*this, &SoundGrid::propertiesChanged));
    filter();
}

void SoundGrid::startSearch() {
    searchBar_.set_search_mode(true);
    search_.grab_focus();
}

void SoundGrid::showAppearance(Appearance appearance) {
    for (const auto& tile : tiles_) {
        tile->setIcon(icons_.icon(tile->soundTrack(), appearance));
    }
}

void SoundGrid::propertiesChanged(const std::string&, const DaemonProxy::Properties& properties) {
    if (const auto volumes = properties.find("Volumes"); volumes != properties.end()) {
        volumes_ = volumes->second.get<std::map<std::string, double>>();
        showSelection();
    }
    if (const auto mode = properties.find("Mode"); mode != properties.end()) {
        // The switch shows the daemon's mode: its state, not its position, is what was asked.
        const auto name = mode->second.get<std::string>();
        multiple_.set_state(name == selectionModeName(SelectionMode::multiple));
        g_debug("mode %s", name.c_str());
    }
    if (const auto favourites = properties.find("Favourites"); favourites != properties.end()) {
        const auto identifiers = favourites->second.get<std::vector<std::string>>();
        for (const auto& tile : tiles_) {
            tile->showFavourite(std::find(identifiers.begin(), identifiers.end(),
                                          identifierOf(tile->soundTrack())) != identifiers.end());
        }
        filter();
    }
}

void SoundGrid::toggled(SoundTrack soundTrack, bool selected) {
    using namespace app::bus;
    if (selected) {
        daemon_.call(selectionInterface, "Add", std::tuple{identifierOf(soundTrack)});
    } else {
        // The only sound selected stays: the tile shows the daemon's selection again.
        daemon_.call(selectionInterface, "Remove", std::tuple{identifierOf(soundTrack)},
                     [this](bool removed) {
                         if (!removed) {
                             showSelection();
                         }
                     });
    }
}

void SoundGrid::showSelection() {
    for (const auto& tile : tiles_) {
        const auto found = volumes_.find(identifierOf(tile->soundTrack()));
        tile->showSelection(found == volumes_.end() ? std::nullopt : std::optional(found->second));
    }
}

void SoundGrid::filter() {
    const std::string term(search_.get_text());
    const auto shown = term.empty() ? store_.soundTracks() : store_.searchMultiple(term);
    ranks_.clear();
    for (const auto& tile : tiles_) {
        const auto found = std::find(shown.begin(), shown.end(), tile->soundTrack());
        if (found != shown.end() && (!favouritesOnly_.get_active() || tile->favourite())) {
            ranks_[tile.get()] = static_cast<std::size_t>(found - shown.begin());
        }
    }
    flow_.invalidate_filter();
    flow_.invalidate_sort();
}

} // namespace somnara::gtk
