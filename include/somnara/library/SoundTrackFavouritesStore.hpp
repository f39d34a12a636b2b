#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/library/CloudStore.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

namespace somnara {

namespace library {
class SyncedSet;
}

/// The user's favourite sound tracks: published through a subject, kept in the app group's user
/// defaults and mirrored through the cloud store so that the user's devices agree.
///
/// The whole set travels as one blob, a JSON array of raw values, under "sound_track_favourites" in
/// both places. A local change publishes at once and overwrites both copies; a cloud snapshot that
/// carries the key replaces the local set and the local copy whole (no union: the cloud wins). Empty
/// snapshots and snapshots without the key change nothing. A blob that cannot be decoded, local or from
/// the cloud, is reported and kept in the user defaults as "sound_track_favourites.corrupt-<UTC time>";
/// an unreadable local copy is then dropped and the store starts from the cloud's copy, so that a set
/// rebuilt from nothing never replaces an intact one on the user's other devices.
///
/// Loop only. Construction starts the start-up task (load, publish, then follow the cloud), so the
/// store must be owned by a `std::shared_ptr` (`std::make_shared`).
class SoundTrackFavouritesStore : public std::enable_shared_from_this<SoundTrackFavouritesStore> {
public:
    using Favourites = std::unordered_set<SoundTrack>;
    /// Opens the user defaults; called anew for every read and write, as another process may have
    /// replaced the suite's file meanwhile.
    using UserDefaultsOpener = std::function<std::shared_ptr<UserDefaults>()>;

    static constexpr const char* sourceFile = "SomnaraKit/SoundTrackFavouritesStore";
    static constexpr const char* userDefaultsKey = "sound_track_favourites";

    /// The process-wide instance, created on first use on the current loop and never destroyed.
    static std::shared_ptr<SoundTrackFavouritesStore> shared();

    /// Over `CloudStore::shared()` and the app group's suite (the standard defaults when the suite
    /// cannot be opened).
    SoundTrackFavouritesStore();
    SoundTrackFavouritesStore(std::shared_ptr<CloudStore> cloudStore, UserDefaultsOpener openUserDefaults);
    ~SoundTrackFavouritesStore();

    SoundTrackFavouritesStore(const SoundTrackFavouritesStore&) = delete;
    SoundTrackFavouritesStore& operator=(const SoundTrackFavouritesStore&) = delete;

    const std::shared_ptr<AsyncCurrentValueSubject<Favourites>>& favouritesSubject() const noexcept {
        return favouritesSubject_;
    }

    /// Adds `favourite` (publishing and saving also when it already is one). Never throws.
    [[nodiscard]] asio::awaitable<void> add(SoundTrack favourite);
    /// Removes `favourite` (publishing and saving also when it is none). Never throws. (The verb of the
    /// other stores, "delete", is taken by the language.)
    [[nodiscard]] asio::awaitable<void> remove(SoundTrack favourite);

    /// Returns once start-up has published the local copy and applied the cloud store's first real
    /// snapshot. A program that changes the set right after creating the store waits for this, so that
    /// its change builds on what is stored.
    [[nodiscard]] asio::awaitable<void> waitUntilLoaded();

    /// The local copy; empty when there is none. Throws `json::DecodingError` when it cannot be read.
    Favourites load() const;
    /// Writes `soundTracks` to the user defaults and then to the cloud.
    [[nodiscard]] asio::awaitable<void> save(Favourites soundTracks);
    /// Takes one cloud snapshot; the store's cloud task calls it for each.
    [[nodiscard]] asio::awaitable<void>
    handleNewCloudDictionary(std::map<std::string, CloudValue> dictionary);

    /// The stored form: a JSON array of raw values (in raw-value order, so that files compare easily).
    static CloudData encode(const Favourites& favourites);
    /// Throws `json::DecodingError` for anything but a JSON array of raw values 0…49.
    static Favourites decode(const CloudData& data);

    /// The default opener: the app group's suite, or the standard defaults when it cannot be opened.
    static std::shared_ptr<UserDefaults> openAppGroupUserDefaults();

private:
    void setup();
    void storeLocally(const CloudData& data) const;

    // Immutable after construction.
    const std::shared_ptr<CloudStore> cloudStore_;
    const UserDefaultsOpener openUserDefaults_;
    /// Tells the start-up task, which starts before anyone can hold the store weakly, that it is gone.
    const std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    const std::unique_ptr<library::SyncedSet> synced_;

    // Loop only.
    std::shared_ptr<AsyncCurrentValueSubject<Favourites>> favouritesSubject_;
    std::optional<Task<void>> cloudObservationTask_;
};

} // namespace somnara
