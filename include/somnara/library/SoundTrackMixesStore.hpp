#pragma once

#include <somnara/catalogue/Mix.hpp>
#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/library/CloudStore.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace somnara {

namespace library {
class SyncedSet;
}

/// The user's saved mixes: published through a subject, kept in the app group's user defaults and
/// mirrored through the cloud store, with lookups and fuzzy search by name.
///
/// The whole set travels as one blob, a JSON array of mixes, under "sound_track_mixes" in both
/// places; the last whole set written anywhere wins. A cloud snapshot carrying the key replaces the
/// local set and the local copy whole; one without it, or an empty one, changes nothing; an
/// blob that cannot be decoded, local or from the cloud, is reported and kept in the user defaults as
/// "sound_track_mixes.corrupt-<UTC time>"; an unreadable local copy is then dropped and the store
/// starts from the cloud's copy, so that a set rebuilt from nothing never replaces an intact one on the
/// user's other devices.
///
/// Loop only. Construction starts the start-up task, so the store must be owned by a
/// `std::shared_ptr`. Its cloud task keeps it alive while it runs, as the app keeps it for its life.
class SoundTrackMixesStore : public std::enable_shared_from_this<SoundTrackMixesStore> {
public:
    static constexpr const char* sourceFile = "SomnaraKit/SoundTrackMixesStore";
    static constexpr const char* userDefaultsKey = "sound_track_mixes";
    /// A name must score above this against the typed term to be found.
    static constexpr double searchThreshold = 0.5;

    /// Over `CloudStore::shared()` and the app group's suite (the standard defaults when the suite
    /// cannot be opened), opened once here.
    SoundTrackMixesStore();
    SoundTrackMixesStore(std::shared_ptr<CloudStore> cloudStore, std::shared_ptr<UserDefaults> userDefaults);
    ~SoundTrackMixesStore();

    SoundTrackMixesStore(const SoundTrackMixesStore&) = delete;
    SoundTrackMixesStore& operator=(const SoundTrackMixesStore&) = delete;

    const std::shared_ptr<AsyncCurrentValueSubject<Mix::Set>>& mixesSubject() const noexcept {
        return mixesSubject_;
    }

    /// Adds `mix` unless an identical record is saved (publishing and saving either way). Never throws.
    [[nodiscard]] asio::awaitable<void> add(Mix mix);
    /// Removes every saved mix named like `mix`, whatever its identifier or volumes. Never throws.
    [[nodiscard]] asio::awaitable<void> remove(Mix mix);

    /// The first saved mix with exactly the sounds and volumes of `mix` (names and identifiers aside).
    [[nodiscard]] asio::awaitable<std::optional<Mix>> mixMatching(Mix mix);
    [[nodiscard]] asio::awaitable<std::optional<Mix>> mixWithName(std::string name);
    [[nodiscard]] asio::awaitable<std::optional<Mix>> mixWithIdentifier(std::string identifier);

    /// The mixes whose names score above 0.5 against `term` (fuzziness 0.5), best first; none for an
    /// empty term.
    [[nodiscard]] asio::awaitable<std::vector<Mix>> searchMultiple(std::string term);
    /// The best of `searchMultiple`, or none.
    [[nodiscard]] asio::awaitable<std::optional<Mix>> search(std::string term);

    /// Returns once start-up has published the local copy and applied the cloud store's first real
    /// snapshot. A program that changes the set right after creating the store waits for this, so that
    /// its change builds on what is stored.
    [[nodiscard]] asio::awaitable<void> waitUntilLoaded();

    /// The local copy; empty when there is none. Throws `json::DecodingError` when it cannot be read.
    Mix::Set load() const;
    /// Writes `soundTracks` (the mixes) to the user defaults and then to the cloud.
    [[nodiscard]] asio::awaitable<void> save(Mix::Set soundTracks);

    static CloudData encode(const Mix::Set& mixes);
    /// Throws `json::DecodingError` for anything but a JSON array of mixes.
    static Mix::Set decode(const CloudData& data);

private:
    void setup();
    /// Applies one cloud snapshot that carries the key.
    void applyCloudSnapshot(const CloudStore::Dictionary& snapshot);

    // Immutable after construction.
    const std::shared_ptr<CloudStore> cloudStore_;
    const std::shared_ptr<UserDefaults> userDefaults_;
    const std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    const std::unique_ptr<library::SyncedSet> synced_;

    // Loop only.
    std::shared_ptr<AsyncCurrentValueSubject<Mix::Set>> mixesSubject_;
    std::optional<Task<void>> cloudObservationTask_;
};

} // namespace somnara
