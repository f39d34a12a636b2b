#pragma once

#include <somnara/catalogue/SelectionMode.hpp>
#include <somnara/catalogue/SoundTrack.hpp>

#include <asio/awaitable.hpp>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace somnara {
class SoundTracksCollection;
class SoundTrackMixesStore;
} // namespace somnara

// What the selection, mixes and status commands do, written once for the two places they run: in the
// command's own process on the stored state, and in the daemon for a command sent over the bus. Refusals
// are thrown as std::invalid_argument with the message people see.
namespace somnara::app {

/// A volume as the user typed it: a number from 0 to 1.
float parseVolume(const std::string& text);
/// A volume sent as a number: from 0 to 1 (NaN is none).
float checkedVolume(double value);
/// "single" or "multiple".
SelectionMode selectionModeNamed(const std::string& text);

/// Makes the selection exactly `wanted`: several sounds in multiple mode, one in single mode.
asio::awaitable<void> selectExactly(std::shared_ptr<SoundTracksCollection> collection,
                                    std::vector<SoundTrack> wanted);

/// Saves the selection as a new mix called `name` (or by its sounds when none) and selects it; returns
/// the name it got.
asio::awaitable<std::string> saveSelectionAsMix(std::shared_ptr<SoundTracksCollection> collection,
                                                std::optional<std::string> name);
asio::awaitable<void> selectMixNamed(std::shared_ptr<SoundTracksCollection> collection, std::string name);
/// Deletes every saved mix called `name`; returns how many there were (refused when none).
asio::awaitable<std::size_t> deleteMixesNamed(std::shared_ptr<SoundTrackMixesStore> store, std::string name);

/// What `somnara status` shows: the selection's name, mode, sounds with volumes and mix, and how the
/// player stands ("state", "sleepTimeRemaining", "session"; stopped and inactive without a daemon).
asio::awaitable<nlohmann::json> selectionStatus(std::shared_ptr<SoundTracksCollection> collection);
void printStatus(const nlohmann::json& status, bool asJSON);

} // namespace somnara::app
