#include "CollectionFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace somnara::test {
namespace {

using Set = SoundTrackSet;
using Volumes = NoisePlayerSettings::MixVolumes;
constexpr auto single = SelectionMode::single;
constexpr auto multiple = SelectionMode::multiple;

class VolumeTest : public CollectionTest {};

TEST_F(VolumeTest, GetVolumeReadsTheStoredVolumeOnlyForSelectedSoundsInMultipleMode) {
    struct Case {
        const char* what;
        Set selected;
        Volumes stored;
        SelectionMode askedMode;
        float expected;
    };
    const std::vector<Case> cases{
        {"stored 0 plays at full volume", {SoundTrack::rain}, {{SoundTrack::rain, 0.0f}}, multiple, 1.0f},
        {"stored volume", {SoundTrack::rain}, {{SoundTrack::rain, 0.4f}}, multiple, 0.4f},
        {"no entry", {SoundTrack::rain}, {}, multiple, 1.0f},
        {"single mode ignores the mix", {SoundTrack::rain}, {{SoundTrack::rain, 0.4f}}, single, 1.0f},
        {"unselected, multiple", {SoundTrack::fan}, {{SoundTrack::rain, 0.4f}}, multiple, 0.0f},
    };
    for (const auto& [what, selected, stored, askedMode, expected] : cases) {
        SCOPED_TRACE(what);
        start(selecting(selected, multiple, stored));
        EXPECT_EQ(run([&] { return collection->getVolume(SoundTrack::rain, askedMode); }), expected);
    }
    // Without a mode, the current one is used.
    start(selecting({SoundTrack::rain}, single, {{SoundTrack::rain, 0.4f}}));
    EXPECT_EQ(run([&] { return collection->getVolume(SoundTrack::rain); }), 1.0f);
}

TEST_F(VolumeTest, SetVolumeStoresSendsLogsAndSelectsOrDeselects) {
    struct Case {
        const char* what;
        Set selected;
        SelectionMode mode;
        SoundTrack soundTrack;
        float volume;
        Set expectedSelection;
        const char* expectedLine;
    };
    const SoundTrack rain = SoundTrack::rain, fan = SoundTrack::fan;
    const std::vector<Case> cases{
        {"the only sound stays at 0", {rain}, multiple, rain, 0.0f, {rain}, "0 for soundTrack: Rain"},
        {"0 removes one of two", {rain, fan}, multiple, fan, 0.0f, {rain}, "0 for soundTrack: Fan"},
        {"above 0 adds", {rain}, multiple, fan, 0.4f, {rain, fan}, "0.4 for soundTrack: Fan"},
        {"above 0 replaces in single mode", {rain}, single, fan, 0.4f, {fan}, "0.4 for soundTrack: Fan"},
        {"selected sound keeps its place", {rain}, multiple, rain, 0.8f, {rain}, "0.8 for soundTrack: Rain"},
    };
    for (const auto& [what, selected, mode, soundTrack, volume, expectedSelection, expectedLine] : cases) {
        SCOPED_TRACE(what);
        start(selecting(selected, mode, {{SoundTrack::wind, 0.2f}}));
        logLines().clear();
        const auto subject = collection->volumeSubject(soundTrack);
        EXPECT_EQ(subject->currentValue(), 1.0f);

        run([&] { return collection->setVolume(volume, soundTrack); });

        EXPECT_EQ(collection->selectedSoundTracks(), expectedSelection);
        EXPECT_EQ(subject->currentValue(), volume);
        // The entry of an unrelated sound survives.
        EXPECT_EQ(persisted().soundTracksMixVolume,
                  (Volumes{{SoundTrack::wind, 0.2f}, {soundTrack, volume}}));
        EXPECT_EQ(persisted().currentSoundTracks, expectedSelection);
        EXPECT_EQ(
            linesStartingWith("Volume on soundtrack"),
            std::vector<std::string>{"Volume on soundtrack Collection sent " + std::string(expectedLine)});
    }
}

TEST_F(VolumeTest, ARepeatedVolumeSendsNothing) {
    start(selecting({SoundTrack::rain, SoundTrack::fan}, multiple, {{SoundTrack::fan, 0.5f}}));
    StreamRecorder<float> fanVolumes(collection->volumeSubject(SoundTrack::fan));
    loop.runUntilIdle();
    logLines().clear();
    const auto namesBefore = names->values.size();
    const auto mixesBefore = selectedMixes->values.size();

    run([&] { return collection->setVolume(0.5f, SoundTrack::fan); });
    run([&] { return collection->setVolume(0.25f, SoundTrack::fan); });
    run([&] { return collection->setVolume(0.25f, SoundTrack::fan); });

    EXPECT_EQ(fanVolumes.values, (std::vector<float>{1.0f, 0.25f}));
    EXPECT_EQ(linesStartingWith("Volume on soundtrack").size(), 1u);
    // Only the one real change looked for a matching mix again.
    EXPECT_EQ(names->values.size(), namesBefore + 1);
    EXPECT_EQ(selectedMixes->values.size(), mixesBefore + 1);

    // A volume that is not a number is refused: nothing sent, nothing stored.
    for (const float bad : {NAN, INFINITY}) {
        run([&] { return collection->setVolume(bad, SoundTrack::fan); });
    }
    EXPECT_EQ(fanVolumes.values, (std::vector<float>{1.0f, 0.25f}));
    EXPECT_EQ(persisted().soundTracksMixVolume.at(SoundTrack::fan), 0.25f);
}

class MixTest : public CollectionTest {};

TEST_F(MixTest, MakingAMixTakesTheStoredVolumesAsTheyAre) {
    struct Case {
        Volumes stored;
        Mix::SoundsAndVolumeLevels expected;
    };
    const std::vector<Case> cases{
        {{}, {{SoundTrack::rain, 1.0f}}},
        {{{SoundTrack::rain, 0.0f}}, {{SoundTrack::rain, 0.0f}}},
        {{{SoundTrack::rain, 0.3f}, {SoundTrack::fan, 0.9f}}, {{SoundTrack::rain, 0.3f}}},
    };
    for (const auto& [stored, expected] : cases) {
        start(selecting({SoundTrack::rain}, multiple, stored));
        const auto mix = run([&] { return collection->makeMixForCurrentSelection(); });
        EXPECT_EQ(mix.soundsAndVolumeLevels(), expected);
    }
    start(selecting({}, multiple));
    EXPECT_THROW(run([&] { return collection->makeMixForCurrentSelection(); }), std::system_error);
    EXPECT_FALSE(run([&] { return collection->findMixMatchingCurrentSelection(); }).has_value());
}

TEST_F(MixTest, SelectingAMixSelectsItsSoundsInMultipleModeAndMergesItsVolumes) {
    const Mix evening("E", "Evening", {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.8f}});
    run([&] { return mixes->add(evening); });
    start(selecting({SoundTrack::owl}, single, {{SoundTrack::rain, 0.1f}, {SoundTrack::wind, 0.2f}}));

    run([&] { return collection->select(evening); });

    EXPECT_EQ(collection->selectedSoundTracks(), (Set{SoundTrack::rain, SoundTrack::fan}));
    EXPECT_EQ(collection->selectionMode(), multiple);
    EXPECT_EQ(names->values.back(), "Evening");
    EXPECT_EQ(selectedMixes->values.back(), evening);
    EXPECT_EQ(persisted(),
              selecting({SoundTrack::rain, SoundTrack::fan}, multiple,
                        {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.8f}, {SoundTrack::wind, 0.2f}}));
    EXPECT_EQ(run([&] { return collection->getVolume(SoundTrack::fan); }), 0.8f);

    // A mix of one sound is still selected in multiple mode.
    start(selecting({SoundTrack::owl}, single));
    run([&] { return collection->select(Mix("S", "Solo", {{SoundTrack::rain, 0.3f}})); });
    EXPECT_EQ(collection->selectionMode(), multiple);
    EXPECT_EQ(run([&] { return collection->getVolume(SoundTrack::rain); }), 0.3f);
}

TEST_F(MixTest, SelectedMixFollowsTheSelectionSavingAndDeletingByName) {
    const Mix evening("E", "Evening", {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.8f}});
    const Mix night("N", "Night", {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.3f}});
    run([&] { return mixes->add(evening); });
    run([&] { return mixes->add(night); });
    start(selecting({SoundTrack::rain}, multiple, {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.8f}}));
    EXPECT_FALSE(collection->selectedMix().has_value());

    // Adding fan makes the selection equal the saved Evening.
    run([&] { return collection->add(SoundTrack::fan); });
    EXPECT_EQ(names->values.back(), "Evening");

    // Changing a volume to Night's clears Evening and finds Night; another value finds nothing.
    run([&] { return collection->setVolume(0.3f, SoundTrack::fan); });
    EXPECT_EQ(names->values.back(), "Night");
    run([&] { return collection->setVolume(0.31f, SoundTrack::fan); });
    EXPECT_EQ(names->values.back(), "Fan & Rain");
    EXPECT_EQ(selectedMixes->values.back(), std::nullopt);

    // Saving a mix of the selection selects it; deleting clears it only by name.
    auto mix = run([&] { return collection->makeMixForCurrentSelection(); });
    EXPECT_EQ(mix.name(), "Rain & Fan");
    mix = mix.with("Focus");

    run([&] { return collection->saveMix(mix); });
    EXPECT_EQ(selectedMixes->values.back(), mix);
    EXPECT_EQ(run([&] { return collection->mixWithName("Focus"); }), mix);
    EXPECT_EQ(run([&] { return collection->findMixMatchingCurrentSelection(); }), mix);

    const auto mixesBefore = selectedMixes->values.size();
    run([&] { return collection->deleteMix(Mix("X", "Other", {{SoundTrack::owl, 1.0f}})); });
    EXPECT_EQ(collection->selectedMix(), mix);
    EXPECT_EQ(selectedMixes->values.size(), mixesBefore);

    // Another mix of the same name goes with it, and with it the selection of the mix.
    run([&] { return collection->deleteMix(Mix("Y", "Focus", {{SoundTrack::owl, 1.0f}})); });
    EXPECT_EQ(selectedMixes->values.back(), std::nullopt);
    EXPECT_EQ(names->values.back(), "Fan & Rain");
    EXPECT_FALSE(run([&] { return collection->mixWithName("Focus"); }).has_value());
}

} // namespace
} // namespace somnara::test
