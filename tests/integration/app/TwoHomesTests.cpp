#include "RunSomnara.hpp"
#include "linux/cloud/CloudValueEnvelope.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace somnara;

namespace {

namespace fs = std::filesystem;

/// Two people's homes, or one person's two machines, that share only a sync folder.
class TwoHomes : public ::testing::Test {
protected:
    /// Runs the app with `SOMNARA_HOME` set to `home` and the shared sync folder; stdout and stderr.
    test::Outcome somnara(const fs::path& home, const std::string& arguments) {
        return test::runOnStoredState(
            "SOMNARA_HOME='" + home.string() + "' SOMNARA_SYNC_FOLDER='" + sync.string() + "'", arguments);
    }

    test::TemporaryDirectory directory{"somnara-homes"};
    fs::path homeA = directory / "a";
    fs::path homeB = directory / "b";
    fs::path sync = directory / "sync";
};

TEST_F(TwoHomes, AFavouriteAddedInOneHomeIsListedInTheOther) {
    const auto added = somnara(homeA, "favourites add rain");
    ASSERT_EQ(added.status, 0) << added.output;

    const auto listed = somnara(homeB, "favourites list");
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_EQ(listed.output, "Rain (rain)\n");

    // Names work in any case, and a change in B reaches A.
    ASSERT_EQ(somnara(homeB, "favourites add 'HOT AIR balloon'").status, 0);
    ASSERT_EQ(somnara(homeB, "favourites remove Rain").status, 0);
    const auto back = somnara(homeA, "favourites");
    EXPECT_EQ(back.output, "Hot Air Balloon (balloon)\n");
    EXPECT_TRUE(fs::exists(homeA / "defaults")) << "A keeps a local copy below its home";
}

TEST_F(TwoHomes, MixesFromTheSyncFolderAreListedSearchedAndDeletedByName) {
    // Another device saved three mixes, two of them named Storm.
    fs::create_directories(sync);
    const std::string mixes = R"([{"identifier":"1","name":"Storm","soundsAndVolumeLevels":[4,0.7,3,0.3]},)"
                              R"({"identifier":"2","name":"Storm","soundsAndVolumeLevels":[4,1]},)"
                              R"({"identifier":"3","name":"Evening","soundsAndVolumeLevels":[5,0.8]}])";
    writeFileAtomically(
        sync / FolderCloudKeyValueStore::fileNameForKey("sound_track_mixes"),
        linux_cloud::CloudValueEnvelope{"sound_track_mixes", CloudData(mixes.begin(), mixes.end())}.encode());

    const auto listed = somnara(homeA, "mixes list");
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("Evening: Fan 0.8\n"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("Storm: Rain 0.3, Thunder 0.7\n"), std::string::npos) << listed.output;

    EXPECT_EQ(somnara(homeA, "mixes search eve").output, "Evening: Fan 0.8\n");
    EXPECT_NE(somnara(homeA, "mixes search so").status, 0) << "a score of exactly one half finds nothing";

    const auto deleted = somnara(homeB, "mixes delete Storm");
    ASSERT_EQ(deleted.status, 0) << deleted.output;
    EXPECT_EQ(deleted.output, "Deleted 2 mixes called \"Storm\".\n");
    EXPECT_EQ(somnara(homeA, "mixes").output, "Evening: Fan 0.8\n");
}

} // namespace
