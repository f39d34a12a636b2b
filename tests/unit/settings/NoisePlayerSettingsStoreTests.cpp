#include "support/Recorders.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

class NoisePlayerSettingsStoreTest : public test::LoopTest {
protected:
    test::TemporaryDirectory directory;
    std::filesystem::path defaultsFile = directory / "standard.json";
    std::filesystem::path legacyFile = directory / "settings";
    std::shared_ptr<FileUserDefaults> defaults = std::make_shared<FileUserDefaults>(defaultsFile);

    std::shared_ptr<NoisePlayerSettingsStore> makeStore() {
        return NoisePlayerSettingsStore::make(defaults, legacyFile);
    }

    /// What another process would read from the user defaults file now.
    std::optional<NoisePlayerSettings> stored() const {
        const auto data = FileUserDefaults(defaultsFile).data(NoisePlayerSettingsStore::userDefaultsKey);
        if (!data) {
            return std::nullopt;
        }
        return NoisePlayerSettings::decode(std::string(data->begin(), data->end()));
    }

    void storeData(const std::string& text) {
        defaults->set(UserDefaultsValue::Data(text.begin(), text.end()),
                      NoisePlayerSettingsStore::userDefaultsKey);
    }

    static NoisePlayerSettings custom() {
        return NoisePlayerSettings()
            .withSelectionMode(SelectionMode::multiple)
            .withCurrentSoundTracks({SoundTrack::fan});
    }
};

TEST_F(NoisePlayerSettingsStoreTest, ChoosesWhereToLoadFrom) {
    const auto fromDefaults = NoisePlayerSettings().withAudioAllowsMixWithOthers(true);
    const auto fromFile = custom();
    struct Case {
        const char* name;
        std::optional<std::string> data;
        std::optional<std::string> file;
        NoisePlayerSettings expected;
    };
    const std::vector<Case> cases{
        {"user defaults win over the file", fromDefaults.encode(), fromFile.encode(), fromDefaults},
        {"no user defaults: the file", std::nullopt, fromFile.encode(), fromFile},
        {"corrupt file", std::nullopt, "not json", NoisePlayerSettings::defaultValue()},
        {"nothing", std::nullopt, std::nullopt, NoisePlayerSettings::defaultValue()},
    };
    for (const auto& c : cases) {
        defaults->removeObject(NoisePlayerSettingsStore::userDefaultsKey);
        std::filesystem::remove(legacyFile);
        if (c.data) {
            storeData(*c.data);
        }
        if (c.file) {
            writeFileAtomically(legacyFile, *c.file);
        }
        auto store = makeStore();
        const test::StreamRecorder published(store->noisePlayerSettingsSubject());
        EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }), c.expected) << c.name;
        // None first, then what was loaded; loading writes nothing back.
        EXPECT_EQ(published.values,
                  (std::vector<std::optional<NoisePlayerSettings>>{std::nullopt, c.expected}));
        EXPECT_EQ(stored(), c.data ? std::optional(NoisePlayerSettings::decode(*c.data)) : std::nullopt);
    }
    // Corrupt data under the key gives the defaults, not the file; a value of another type is no
    // settings data, and the file is read.
    writeFileAtomically(legacyFile, fromFile.encode());
    for (const bool corrupt : {true, false}) {
        corrupt ? storeData("{\"currentSoundTracks\":[")
                : defaults->set("text", NoisePlayerSettingsStore::userDefaultsKey);
        auto store = makeStore();
        EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }),
                  corrupt ? NoisePlayerSettings::defaultValue() : fromFile);
    }
    // What was read from the legacy file is saved under the key; the file itself is never written.
    auto store = makeStore();
    run([&] { return store->setSoundSettings(SoundSettings().withReverb(3.0F)); });
    EXPECT_EQ(readWholeFile(legacyFile), fromFile.encode());
    EXPECT_EQ(stored(), fromFile.withSoundSettings(SoundSettings().withReverb(3.0F)));
}

TEST_F(NoisePlayerSettingsStoreTest, EveryWriteIsPublishedAndSavedInOrder) {
    auto store = makeStore();
    const test::StreamRecorder published(store->noisePlayerSettingsSubject());
    loop.runUntilIdle();
    const auto first = NoisePlayerSettings().withSelectionMode(SelectionMode::multiple);
    const auto second = first.withAudioAllowsMixWithOthers(true);
    run([&]() -> asio::awaitable<void> {
        co_await store->setNoisePlayerSettings(first);
        co_await store->setNoisePlayerSettings(second);
    });
    EXPECT_EQ(stored(), second);
    EXPECT_EQ(published.values, (std::vector<std::optional<NoisePlayerSettings>>{
                                    std::nullopt, NoisePlayerSettings(), first, second}));

    // Each write on its own turn is saved before the next.
    for (const float reverb : {1.0F, 2.0F, 3.0F}) {
        run([&] { return store->setSoundSettings(second.soundSettings.withReverb(reverb)); });
        EXPECT_EQ(stored(), second.withSoundSettings(second.soundSettings.withReverb(reverb)));
    }
    EXPECT_TRUE(run([&] { return store->waitForSave(); }));
    // A value JSON has no text for stores nothing: the saved settings stay whole.
    run([&] { return store->setSoundSettings(second.soundSettings.withReverb(NAN)); });
    EXPECT_FALSE(run([&] { return store->waitForSave(); }));
    // And a new store, as at the next launch, starts from what was saved.
    auto next = makeStore();
    EXPECT_EQ(run([&] { return next->noisePlayerSettings(); }).soundSettings.reverb, 3.0F);
}

// The resets share one update; a scalar, the gains, a group and the whole stand for the rest.
TEST_F(NoisePlayerSettingsStoreTest, SingleResetsTouchOnlyTheirPart) {
    const SoundSettings changed{
        0.4F, 1.5F, 20.0F, {0, 0, 0, 0, 6.0F, 0, 0, 0, 0, 0}, 100.0F, {3.0, 0.5F}, {0.5, 10.0F, 20.0F}};
    using Reset = asio::awaitable<void> (NoisePlayerSettingsStore::*)();
    struct Case {
        const char* name;
        Reset reset;
        SoundSettings expected;
    };
    const auto defaults = SoundSettings::defaultValue();
    const std::vector<Case> cases{
        {"volume", &NoisePlayerSettingsStore::resetVolume, changed.withVolume(1.0F)},
        {"gains", &NoisePlayerSettingsStore::resetEqualizerGainLevels,
         changed.withEqualizerGainLevels(defaults.equalizerGainLevels)},
        {"delay", &NoisePlayerSettingsStore::resetDelay, changed.withDelay({1.0, 0.0F, 0.0F})},
        {"all", &NoisePlayerSettingsStore::resetAllSoundSettings, defaults},
    };
    auto store = makeStore();
    const auto others = custom();
    for (const auto& c : cases) {
        run([&]() -> asio::awaitable<void> {
            co_await store->setNoisePlayerSettings(others.withSoundSettings(changed));
            co_await ((*store).*(c.reset))();
        });
        const auto expected = others.withSoundSettings(c.expected);
        EXPECT_EQ(stored(), expected) << c.name;
        EXPECT_EQ(store->noisePlayerSettingsSubject()->currentValue(), expected) << c.name;
    }
}

// Three tasks change different fields, each after waiting: through `update` every change survives.
TEST_F(NoisePlayerSettingsStoreTest, UpdateAppliesEachChangeToTheNewestSettings) {
    auto store = makeStore();
    loop.runUntilIdle();
    const auto changeAfter = [store](Seconds wait,
                                     std::function<NoisePlayerSettings(NoisePlayerSettings)> change) {
        return spawn([store, wait, change]() -> asio::awaitable<void> {
            co_await sleep(wait);
            co_await store->update(change);
        });
    };
    changeAfter(2s, [](NoisePlayerSettings s) { return s.withAudioAllowsMixWithOthers(true); });
    changeAfter(1s, [](NoisePlayerSettings s) { return s.withSelectionMode(SelectionMode::multiple); });
    changeAfter(3s,
                [](NoisePlayerSettings s) { return s.withSoundSettings(s.soundSettings.withPitch(50.0F)); });
    loop.advance(5s);
    const auto expected = NoisePlayerSettings()
                              .withAudioAllowsMixWithOthers(true)
                              .withSelectionMode(SelectionMode::multiple)
                              .withSoundSettings(SoundSettings().withPitch(50.0F));
    EXPECT_EQ(stored(), expected);
}

TEST(NoisePlayerSettingsStoreDeathTest, NoDocumentsDirectoryEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TemporaryDirectory directory;
    // A file where the documents directory should be: the platform cannot make one.
    writeFileAtomically(directory / "blocked", "");
    test::ScopedEnvironment environment("SOMNARA_HOME", (directory / "blocked").string());
    FileLocations::setShared(nullptr);
    EXPECT_DEATH(NoisePlayerSettingsStore::localDataPath(),
                 "SomnaraKit/NoisePlayerSettings:109: Fatal error: Can't find documents directory");
    environment.set("SOMNARA_HOME", directory.path().string());
    FileLocations::setShared(nullptr);
    EXPECT_EQ(NoisePlayerSettingsStore::localDataPath(), directory / "settings");
    FileLocations::setShared(nullptr);
}

} // namespace
} // namespace somnara
