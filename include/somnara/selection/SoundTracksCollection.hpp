#pragma once

#include <somnara/catalogue/Mix.hpp>
#include <somnara/catalogue/SelectionMode.hpp>
#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/selection/SelectedSoundTracksChange.hpp>
#include <somnara/selection/SoundTracksCollectionError.hpp>

#include <asio/awaitable.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace somnara {

class NoisePlayerSettingsStore;
class SoundTrackFavouritesStore;
class SoundTrackMixesStore;

/// What the user has chosen to hear: the selected sound tracks, the selection mode, the display name
/// of the selection and the saved mix it equals, if any. The single writer of these values.
///
/// Every mutating operation changes the field at once and leaves persistence and publication to
/// follow-up tasks. Follow-ups run on the loop one at a time, in the order they were started, and
/// only once the operation that started them has finished or suspended; a caller that needs the
/// published result subscribes to the subject, or awaits `waitForFollowUps()`.
///
/// Settings are changed only through the settings store's atomic update, so two changes that
/// interleave at a suspension never overwrite each other's field.
///
/// Loop only. Created with `make`, which starts loading the persisted selection and returns at once.
class SoundTracksCollection : public std::enable_shared_from_this<SoundTracksCollection> {
    struct Private {};

public:
    using SelectedSoundTracksChange = somnara::SelectedSoundTracksChange;
    template <class T>
    using Subject = std::shared_ptr<AsyncCurrentValueSubject<T>>;

    static constexpr const char* sourceFile = "SomnaraKit/SoundTracksCollection";

    SoundTracksCollection(Private, std::vector<SoundTrack> allSoundTracks,
                          std::shared_ptr<SoundTrackFavouritesStore> favouritesStore,
                          std::shared_ptr<SoundTrackMixesStore> mixesStore,
                          std::shared_ptr<NoisePlayerSettingsStore> settingsStore);

    /// A collection offering `allSoundTracks` (in that order: the ring of next and previous). Starts
    /// the start-up task that reads the persisted mode and selection.
    static std::shared_ptr<SoundTracksCollection>
    make(std::vector<SoundTrack> allSoundTracks, std::shared_ptr<SoundTrackFavouritesStore> favouritesStore,
         std::shared_ptr<SoundTrackMixesStore> mixesStore,
         std::shared_ptr<NoisePlayerSettingsStore> settingsStore);

    const std::vector<SoundTrack>& allSoundTracks() const noexcept { return allSoundTracks_; }
    /// `allSoundTracks` without the current favourites, in the same order.
    [[nodiscard]] asio::awaitable<std::vector<SoundTrack>> allSoundTracksExcludingFavourites();

    SelectionMode selectionMode() const noexcept { return selectionMode_; }
    [[nodiscard]] asio::awaitable<void> setSelectionMode(SelectionMode mode);

    const Subject<SelectionMode>& selectionModeSubject() const noexcept { return selectionModeSubject_; }
    const Subject<std::string>& selectionNameSubject() const noexcept { return selectionNameSubject_; }
    const Subject<SelectedSoundTracksChange>& selectedSoundTracksSubject() const noexcept {
        return selectedSoundTracksSubject_;
    }
    const Subject<std::optional<Mix>>& selectedMixSubject() const noexcept { return selectedMixSubject_; }

    const SoundTrackSet& selectedSoundTracks() const noexcept { return selectedSoundTracks_; }
    const std::optional<Mix>& selectedMix() const noexcept { return selectedMix_; }

    const std::shared_ptr<SoundTrackFavouritesStore>& favouritesStore() const noexcept {
        return favouritesStore_;
    }
    const std::shared_ptr<SoundTrackMixesStore>& mixesStore() const noexcept { return mixesStore_; }

    /// In single mode replaces the selection; in multiple mode adds to it.
    [[nodiscard]] asio::awaitable<void> add(SoundTrack soundTrack);
    /// Removes the sound unless that would empty the selection; true when at least two were selected
    /// (even if this one was not among them).
    [[nodiscard]] asio::awaitable<bool> remove(SoundTrack soundTrack);
    [[nodiscard]] asio::awaitable<void> toggle(SoundTrack soundTrack);
    /// Selects the sound after (before) the alphabetically first selected one, alone, in single mode.
    [[nodiscard]] asio::awaitable<void> selectNext();
    [[nodiscard]] asio::awaitable<void> selectPrevious();

    /// The sound's volume subject, created at 1.0 on first request; only `setVolume` sends on it.
    Subject<float> volumeSubject(SoundTrack soundTrack);
    [[nodiscard]] asio::awaitable<float> getVolume(SoundTrack soundTrack);
    [[nodiscard]] asio::awaitable<float> getVolume(SoundTrack soundTrack, SelectionMode mode);
    /// Stores the sound's mix volume; a volume above 0 selects the sound, 0 or less deselects it.
    [[nodiscard]] asio::awaitable<void> setVolume(float volume, SoundTrack soundTrack);

    [[nodiscard]] asio::awaitable<void> saveFavourite(SoundTrack favourite);
    [[nodiscard]] asio::awaitable<void> deleteFavourite(SoundTrack favourite);
    [[nodiscard]] asio::awaitable<bool> isFavourite(SoundTrack soundTrack);

    /// A new, unsaved mix of the selected sounds at their stored volumes; throws
    /// `SoundTracksCollectionError::cannotMakeMixWithNoSoundTracksSelected` when nothing is selected.
    [[nodiscard]] asio::awaitable<Mix> makeMixForCurrentSelection();
    /// The saved mix with exactly the selection's sounds and stored volumes, or none.
    [[nodiscard]] asio::awaitable<std::optional<Mix>> findMixMatchingCurrentSelection();
    /// Selects the mix's sounds in multiple mode and takes over its volumes.
    [[nodiscard]] asio::awaitable<void> select(Mix mix);
    [[nodiscard]] asio::awaitable<void> saveMix(Mix mix);
    [[nodiscard]] asio::awaitable<void> deleteMix(Mix mix);
    [[nodiscard]] asio::awaitable<std::optional<Mix>> mixMatching(Mix mix);
    [[nodiscard]] asio::awaitable<std::optional<Mix>> mixWithName(std::string name);

    /// Waits until the start-up task and every follow-up started so far, and those they start, have
    /// run (the command-line app waits for this before it exits).
    [[nodiscard]] asio::awaitable<void> waitForFollowUps();

private:
    using FollowUp = std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)>;

    asio::awaitable<void> startUp();

    // Assigning a field starts its follow-up, as a property observer would.
    void assignSelectedSoundTracks(SoundTrackSet soundTracks);
    void assignSelectionMode(SelectionMode mode);
    void assignSelectedMix(std::optional<Mix> mix);
    void startFollowUp(FollowUp body);

    asio::awaitable<void> selectionFollowUp(SoundTrackSet previous);
    asio::awaitable<void> modeFollowUp();
    asio::awaitable<void> mixFollowUp();

    std::string getSelectionName() const;
    void updateSelectionName();
    asio::awaitable<void> updateSelectedMix();

    asio::awaitable<void> selectNeighbour(bool forward);
    std::optional<SoundTrack> getSoundTrackAfter(SoundTrack soundTrack) const;
    std::optional<SoundTrack> getSoundTrackBefore(SoundTrack soundTrack) const;

    // Immutable after construction.
    const std::vector<SoundTrack> allSoundTracks_;
    const std::shared_ptr<SoundTrackFavouritesStore> favouritesStore_;
    const std::shared_ptr<SoundTrackMixesStore> mixesStore_;
    const std::shared_ptr<NoisePlayerSettingsStore> settingsStore_;

    // Loop only.
    Subject<SelectionMode> selectionModeSubject_;
    SelectionMode selectionMode_ = SelectionMode::single;
    Subject<std::string> selectionNameSubject_;
    Subject<SelectedSoundTracksChange> selectedSoundTracksSubject_;
    SoundTrackSet selectedSoundTracks_;
    Subject<std::optional<Mix>> selectedMixSubject_;
    std::optional<Mix> selectedMix_;
    std::unordered_map<SoundTrack, Subject<float>> soundTrackVolumeSubjects_;

    Task<void> startUpTask_;
    /// The follow-up started last; each new one waits for it, which keeps them in start order.
    Task<void> lastFollowUp_;
};

} // namespace somnara
