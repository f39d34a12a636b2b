#include "SelectionOperations.hpp"

#include "TerminalText.hpp"

#include <somnara/catalogue/Mix.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <stdexcept>

namespace somnara::app {

namespace {

std::string shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string shortest(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

void refuseVolume(const std::string& text) {
    throw std::invalid_argument("a volume is a number from 0 to 1, not \"" + printable(text) + "\"");
}

} // namespace

float parseVolume(const std::string& text) {
    float value = 0;
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc{} || result.ptr != end || !(value >= 0.0f && value <= 1.0f)) {
        refuseVolume(text);
    }
    return value;
}

float checkedVolume(double value) {
    if (!(value >= 0.0 && value <= 1.0)) {
        refuseVolume(std::isnan(value) ? "nan" : shortest(value));
    }
    return static_cast<float>(value);
}

SelectionMode selectionModeNamed(const std::string& text) {
    for (const auto mode : {SelectionMode::single, SelectionMode::multiple}) {
        if (text == selectionModeName(mode)) {
            return mode;
        }
    }
    throw std::invalid_argument("a mode is single or multiple, not \"" + text + "\"");
}

asio::awaitable<void> selectExactly(std::shared_ptr<SoundTracksCollection> collection,
                                    std::vector<SoundTrack> wanted) {
    const auto mode = wanted.size() > 1 ? SelectionMode::multiple : SelectionMode::single;
    co_await collection->setSelectionMode(mode);
    for (const auto soundTrack : wanted) {
        co_await collection->add(soundTrack);
    }
    // Then drop what was there before: removal never empties the selection, and the wanted sounds are in.
    std::vector<SoundTrack> unwanted;
    for (const auto soundTrack : collection->selectedSoundTracks()) {
        if (std::find(wanted.begin(), wanted.end(), soundTrack) == wanted.end()) {
            unwanted.push_back(soundTrack);
        }
    }
    for (const auto soundTrack : unwanted) {
        co_await collection->remove(soundTrack);
    }
}

asio::awaitable<std::string> saveSelectionAsMix(std::shared_ptr<SoundTracksCollection> collection,
                                                std::optional<std::string> name) {
    if (name && name->find_first_not_of(" \t\n") == std::string::npos) {
        throw std::invalid_argument("a mix needs a name");
    }
    auto mix = co_await collection->makeMixForCurrentSelection();
    if (name) {
        mix = mix.with(*name);
    }
    const auto saved = mix.name();
    // Arguments are named before they are awaited: g++ 12 destroys temporaries of a co_await
    // expression twice.
    auto saving = collection->saveMix(std::move(mix));
    co_await std::move(saving);
    co_return saved;
}

asio::awaitable<void> selectMixNamed(std::shared_ptr<SoundTracksCollection> collection, std::string name) {
    auto lookup = collection->mixWithName(name);
    auto mix = co_await std::move(lookup);
    if (!mix) {
        throw std::invalid_argument("no saved mix is named \"" + printable(name) + "\"");
    }
    auto selecting = collection->select(std::move(*mix));
    co_await std::move(selecting);
}

asio::awaitable<std::size_t> deleteMixesNamed(std::shared_ptr<SoundTrackMixesStore> store, std::string name) {
    const auto& mixes = store->mixesSubject()->currentValue();
    const auto count = static_cast<std::size_t>(
        std::count_if(mixes.begin(), mixes.end(), [&](const Mix& mix) { return mix.name() == name; }));
    if (count == 0) {
        throw std::invalid_argument("no saved mix is called \"" + printable(name) + "\"");
    }
    // Removal goes by name.
    Mix named{"", name, Mix::SoundsAndVolumeLevels{}};
    auto removing = store->remove(std::move(named));
    co_await std::move(removing);
    co_return count;
}

asio::awaitable<nlohmann::json> selectionStatus(std::shared_ptr<SoundTracksCollection> collection) {
    std::vector<SoundTrack> sorted(collection->selectedSoundTracks().begin(),
                                   collection->selectedSoundTracks().end());
    std::sort(sorted.begin(), sorted.end());
    auto sounds = nlohmann::json::array();
    for (const auto soundTrack : sorted) {
        const float volume = co_await collection->getVolume(soundTrack);
        sounds.push_back({{"identifier", std::string(soundTrack.identifier())},
                          {"name", soundTrack.name()},
                          {"volume", std::stod(shortest(volume))}});
    }
    nlohmann::json mix = nullptr;
    if (const auto& selected = collection->selectedMix()) {
        mix = {{"identifier", selected->identifier()}, {"name", selected->name()}};
    }
    co_return nlohmann::json{{"name", collection->selectionNameSubject()->currentValue()},
                             {"mode", std::string(selectionModeName(collection->selectionMode()))},
                             {"sounds", std::move(sounds)},
                             {"mix", std::move(mix)},
                             {"state", "stopped"},
                             {"sleepTimeRemaining", nullptr},
                             {"session", "inactive"}};
}

void printStatus(const nlohmann::json& status, bool asJSON) {
    if (asJSON) {
        // A name from another device may not be UTF-8; JSON must be.
        std::cout << status.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    const auto name = status.at("name").get<std::string>();
    std::cout << "Selection: " << (name.empty() ? "(nothing selected)" : printable(name)) << '\n';
    std::cout << "Mode:      " << status.at("mode").get<std::string>() << '\n';
    std::cout << "Mix:       "
              << (status.at("mix").is_null() ? "(none)"
                                             : printable(status.at("mix").at("name").get<std::string>()))
              << '\n';
    std::cout << "Player:    " << status.at("state").get<std::string>();
    if (const auto& remaining = status.at("sleepTimeRemaining"); !remaining.is_null()) {
        const auto seconds = std::max<long long>(0, std::llround(remaining.get<double>()));
        std::cout << ", sleep timer " << seconds / 60 << ':' << (seconds % 60 < 10 ? "0" : "") << seconds % 60
                  << " left";
    }
    std::cout << " (audio session " << status.at("session").get<std::string>() << ")\n";
    std::cout << "Sounds:\n";
    for (const auto& sound : status.at("sounds")) {
        auto identifier = sound.at("identifier").get<std::string>();
        identifier.resize(std::max<std::size_t>(identifier.size(), 16), ' ');
        auto soundName = sound.at("name").get<std::string>();
        soundName.resize(std::max<std::size_t>(soundName.size(), 24), ' ');
        std::cout << "  " << identifier << soundName << shortest(sound.at("volume").get<double>()) << '\n';
    }
}

} // namespace somnara::app
