#include "RunSomnara.hpp"

#include <somnara/settings/SettingsField.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace somnara;

namespace {

/// One home whose settings the program changes, invocation by invocation.
class SettingsCommand : public test::HomeTest {
protected:
    /// The stored record, as `settings --json` prints it.
    NoisePlayerSettings stored() {
        const auto outcome = somnara("settings --json", /*withErrors=*/false);
        EXPECT_EQ(outcome.status, 0);
        return NoisePlayerSettings::decode(outcome.output);
    }
};

/// A value inside the field's range and away from its default.
std::string someValue(const SettingsField& field) {
    switch (field.kind) {
    case SettingsField::Kind::flag:
        return "true";
    case SettingsField::Kind::gains:
        return "-96,-12.5,0,1,2,3,4,5,6,24";
    case SettingsField::Kind::number:
        break;
    }
    const double value =
        std::isinf(field.range.upperBound) ? field.range.lowerBound + 3.25 : field.range.upperBound - 0.25;
    return std::to_string(value).substr(0, 8);
}

TEST_F(SettingsCommand, RoundTripsEveryFieldAndRefusesBadValuesChangingNothing) {
    // Every field at once, then each read back from the stored record.
    std::string assignments;
    for (const auto& field : SettingsField::all()) {
        assignments += " " + field.path + "=" + someValue(field);
    }
    const auto changed = somnara("settings set" + assignments);
    ASSERT_EQ(changed.status, 0) << changed.output;
    const auto everything = stored();
    for (const auto& field : SettingsField::all()) {
        const auto expected = field.changed(NoisePlayerSettings(), someValue(field));
        EXPECT_EQ(field.valueText(everything), field.valueText(expected)) << field.path;
        EXPECT_NE(changed.output.find(field.path), std::string::npos)
            << "the readable view lists " << field.path;
    }

    struct Case {
        const char* arguments;
        /// Empty when accepted; else what the refusal must say.
        const char* refusal;
        const char* field;
        const char* value;
    };
    const Case cases[] = {
        {"settings set speed=3", "0.5 to 2 ×", "speed", "1.75"},
        {"settings set speed=nan", "0.5 to 2 ×", "speed", "1.75"},
        {"settings set volume=0.5 pitch=-600", "-500 to 200 cents", "volume", "0.75"},
        {"settings set fadeTiming.stop=-1", "0 s or more", "fadeTiming.stop", "3.25"},
        {"settings set eq.3=inf", "-96 to 24 dB", "eq.3", "1"},
        {"settings set equalizerGainLevels=1,2", "10 comma-separated gains", "eq.1", "-12.5"},
        {"settings set audioAllowsMixWithOthers=yes", "true or false", "audioAllowsMixWithOthers", "true"},
        {"settings set bogus=1", "no setting is called 'bogus'", "speed", "1.75"},
        {"settings set eq.10=1", "no setting is called 'eq.10'", "speed", "1.75"},
        {"settings preset loud", "choose one of default, distant", "speed", "1.75"},
        {"settings reset nothing", "no setting is called 'nothing'", "speed", "1.75"},
        {"settings set eq.3=-6 delay.mix=50", "", "eq.3", "-6"},
        {"settings reset delay", "", "delay.mix", "0"},
        {"settings reset fadeTiming.stop", "", "fadeTiming.stop", "0.5"},
        {"settings preset slow", "", "speed", "0.5"},
        {"settings reset", "", "eq.3", "0"},
    };
    for (const auto& c : cases) {
        const auto before = stored();
        const auto outcome = somnara(c.arguments);
        const auto after = stored();
        if (*c.refusal != '\0') {
            EXPECT_NE(outcome.status, 0) << c.arguments;
            EXPECT_NE(outcome.output.find(c.refusal), std::string::npos)
                << c.arguments << ": " << outcome.output;
            EXPECT_EQ(after, before) << c.arguments << " changed nothing";
        } else {
            EXPECT_EQ(outcome.status, 0) << c.arguments << ": " << outcome.output;
        }
        EXPECT_EQ(SettingsField::named(c.field)->valueText(after), c.value) << c.arguments;
    }
}

} // namespace
