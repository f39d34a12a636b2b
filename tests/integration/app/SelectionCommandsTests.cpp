#include "RunSomnara.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <string>

using namespace somnara;

namespace {

/// One home driven command by command: each invocation must see what the one before it saved.
class SelectionCommands : public test::HomeTest {
protected:
    void run(const std::string& arguments) {
        const auto outcome = somnara(arguments);
        ASSERT_EQ(outcome.status, 0) << arguments << ": " << outcome.output;
    }

    nlohmann::json status() {
        const auto outcome = somnara("status --json", /*withErrors=*/false);
        EXPECT_EQ(outcome.status, 0);
        return nlohmann::json::parse(outcome.output);
    }

    /// The selected sounds' identifiers and volumes.
    std::map<std::string, double> sounds() {
        std::map<std::string, double> result;
        const auto json = status();
        for (const auto& sound : json["sounds"]) {
            result[sound["identifier"].get<std::string>()] = sound["volume"].get<double>();
        }
        return result;
    }
};

TEST_F(SelectionCommands, ASessionPersistsFromOneInvocationToTheNext) {
    run("mode multiple");
    run("select rain waves");
    EXPECT_EQ(status()["mode"], "multiple");
    EXPECT_EQ(sounds(), (std::map<std::string, double>{{"rain", 1.0}, {"waves", 1.0}}));

    run("volume rain 0.5");
    run("mixes save Evening");
    EXPECT_EQ(status()["mix"]["name"], "Evening");
    EXPECT_EQ(sounds(), (std::map<std::string, double>{{"rain", 0.5}, {"waves", 1.0}}));

    // Changing the selection leaves the mix; selecting the mix brings its sounds and volumes back.
    run("remove waves");
    EXPECT_EQ(sounds(), (std::map<std::string, double>{{"rain", 0.5}}));
    EXPECT_TRUE(status()["mix"].is_null());
    run("mixes select Evening");
    EXPECT_EQ(sounds(), (std::map<std::string, double>{{"rain", 0.5}, {"waves", 1.0}}));
    EXPECT_EQ(status()["mix"]["name"], "Evening");
    EXPECT_EQ(status()["name"], "Evening");

    // Single mode keeps one sound; next and previous walk the catalogue (waves, rain, thunder).
    run("mode single");
    EXPECT_EQ(status()["mode"], "single");
    EXPECT_EQ(sounds().size(), 1U);
    run("select rain");
    run("next");
    EXPECT_EQ(sounds().begin()->first, "thunder");
    run("previous");
    run("previous");
    EXPECT_EQ(sounds().begin()->first, "waves");
}

} // namespace
