#include "PlayerFixture.hpp"

#include <somnara/player/Oscillator.hpp>

#include <gtest/gtest.h>

#include <limits>

namespace somnara::test {
namespace {

class OscillatorTest : public PlayerTest {
protected:
    OscillatorTest() {
        auto factory = makeFactory();
        for (const auto soundTrack : {SoundTrack::rain, SoundTrack::fan}) {
            nodes.push_back(std::make_shared<SoundTrackPlayerNode>(soundTrack, factory));
        }
        oscillator->setPlayers(nodes);
    }

    ~OscillatorTest() override {
        oscillator->setIsRunning(false);
        loop.runUntilIdle();
    }

    float pan(std::size_t node = 0) const { return nodes[node]->audioPlayerNode()->pan(); }

    std::vector<std::shared_ptr<SoundTrackPlayerNode>> nodes;
    std::shared_ptr<Oscillator> oscillator = std::make_shared<Oscillator>();
};

// A sweep from the centre takes half the rate; the full sweeps after it take the whole rate, and every
// node gets the same pan.
TEST_F(OscillatorTest, sweepsFromSideToSideAtTheRateUntilStrengthZeroCentresIt) {
    oscillator->setSettings({10.0, 1.0F});
    EXPECT_TRUE(oscillator->isRunning());
    loop.advance(Seconds{2.5});
    EXPECT_NEAR(pan(), 0.5F, 0.003F);
    loop.advance(Seconds{2.495});
    EXPECT_LT(pan(), 1.0F);
    EXPECT_EQ(oscillator->direction(), Oscillator::Direction::right);
    loop.advance(Seconds{0.02});
    EXPECT_EQ(pan(), 1.0F);
    EXPECT_EQ(oscillator->direction(), Oscillator::Direction::left);
    loop.advance(Seconds{5.0});
    EXPECT_NEAR(pan(), 0.0F, 0.003F);
    EXPECT_EQ(pan(1), pan(0));
    loop.advance(Seconds{5.0});
    EXPECT_EQ(pan(), -1.0F);
    // A sweep ends at the first step after its end time, one step after it reached the extreme.
    EXPECT_EQ(oscillator->direction(), Oscillator::Direction::left);
    loop.advance(Seconds{0.01});
    EXPECT_EQ(oscillator->direction(), Oscillator::Direction::right);

    EXPECT_EQ(linesStartingWith("Oscillator "),
              (std::vector<std::string>{"Oscillator change pan from 0.0, to 1.0, duration: 5.0",
                                        "Oscillator pan complete. Direction: right",
                                        "Oscillator change pan from 1.0, to -1.0, duration: 10.0",
                                        "Oscillator pan complete. Direction: left",
                                        "Oscillator change pan from -1.0, to 1.0, duration: 10.0"}));

    // Strength 0 switches the effect off and centres every pan, which then stay put. The sweep it cut short
    // still ended and turned: a restart goes back the other way.
    oscillator->setSettings({10.0, 0.0F});
    EXPECT_FALSE(oscillator->isRunning());
    loop.advance(Seconds{0.01});
    EXPECT_EQ(pan(0), 0.0F);
    EXPECT_EQ(pan(1), 0.0F);
    loop.advance(Seconds{20.0});
    EXPECT_EQ(pan(0), 0.0F);
    EXPECT_EQ(oscillator->direction(), Oscillator::Direction::left);
}

// A new strength while running restarts nothing: the sweep in progress keeps its extreme, and the next
// one goes to the new extreme at the speed of a full sweep.
TEST_F(OscillatorTest, aStrengthChangeIsTakenAtTheNextSweep) {
    oscillator->setSettings({10.0, 0.8F});
    loop.advance(Seconds{2.0});
    oscillator->setSettings({10.0, 0.5F});
    loop.advance(Seconds{3.015});
    EXPECT_EQ(pan(), 0.8F);
    const auto starts = linesStartingWith("Oscillator change pan from ");
    ASSERT_EQ(starts.size(), 2U);
    // 1.3 of a full sweep, computed in 32-bit floats as the pans are.
    EXPECT_EQ(starts[1], "Oscillator change pan from 0.8, to -0.5, duration: 12.999999523162842");
    loop.advance(Seconds{13.0});
    EXPECT_EQ(pan(), -0.5F);
}

// Settings out of range are reported once each and used as they are.
TEST_F(OscillatorTest, reportsSettingsOutOfRangeAndUsesThem) {
    const struct {
        double rate;
        float strength;
        const char* message;
    } cases[] = {
        {40.0, 0.5F, "Invalid rate"},
        {0.4, 0.5F, "Invalid rate"},
        {10.0, 1.5F, "Invalid strength"},
        {10.0, std::numeric_limits<float>::quiet_NaN(), "Invalid strength"},
        {10.0, 1.0F, nullptr},
    };
    for (const auto& c : cases) {
        analytics.clear();
        oscillator->setSettings({c.rate, c.strength});
        const auto assertions = analytics.assertions();
        ASSERT_EQ(assertions.size(), c.message != nullptr ? 1U : 0U) << c.rate << " " << c.strength;
        if (c.message != nullptr) {
            EXPECT_EQ(assertions[0].message, c.message);
        }
    }

    // Rate 40 is used: from the centre, half of forty seconds.
    oscillator->setSettings({10.0, 0.0F});
    loop.runUntilIdle();
    logLines().clear();
    oscillator->setSettings({40.0, 1.0F});
    loop.advance(Seconds{0.01});
    EXPECT_EQ(linesStartingWith("Oscillator change pan from "),
              std::vector<std::string>{"Oscillator change pan from 0.0, to 1.0, duration: 20.0"});
}

// Restarting twice leaves one oscillation: one sweep at a time, and one turn per completed sweep.
TEST_F(OscillatorTest, restartingTwiceLeavesOneOscillation) {
    oscillator->setSettings({10.0, 1.0F});
    oscillator->restart();
    oscillator->restart();
    loop.advance(Seconds{5.015});
    EXPECT_EQ(linesStartingWith("Oscillator change pan from ").size(), 2U);
    EXPECT_EQ(linesStartingWith("Oscillator pan complete. ").size(), 1U);
    EXPECT_EQ(oscillator->direction(), Oscillator::Direction::left);
    loop.advance(Seconds{10.01});
    EXPECT_EQ(linesStartingWith("Oscillator pan complete. ").size(), 2U);
    EXPECT_EQ(pan(), -1.0F);

    // With no nodes the oscillation ends; new nodes and a restart start it again.
    oscillator->setPlayers({});
    loop.advance(Seconds{10.01});
    const auto sweeps = linesStartingWith("Oscillator change pan from ").size();
    loop.advance(Seconds{30.0});
    EXPECT_EQ(linesStartingWith("Oscillator change pan from ").size(), sweeps);
    // The node left at -1 while the last sweep went right: the oscillation first finds it already at
    // the left extreme (a sweep of no length), then sweeps right.
    oscillator->setPlayers({nodes[1]});
    oscillator->restart();
    loop.advance(Seconds{1.0});
    EXPECT_EQ(linesStartingWith("Oscillator change pan from ").size(), sweeps + 2);
    EXPECT_NEAR(pan(1), -0.8F, 0.003F);
}

} // namespace
} // namespace somnara::test
