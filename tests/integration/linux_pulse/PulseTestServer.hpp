#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace somnara::test {

/// Whether the test script started PulseAudio (scripts/services.sh).
inline bool pulseWanted() {
    return std::getenv("SOMNARA_TEST_PULSE") != nullptr;
}

inline constexpr const char* noPulseMessage = "SOMNARA_TEST_PULSE is not set: no PulseAudio server with the "
                                              "sinks \"out\" and \"out2\" (scripts/services.sh)";

/// What `command` prints on standard output.
inline std::string shellOutput(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe{popen(command.c_str(), "r"), pclose};
    if (!pipe) {
        return output;
    }
    std::array<char, 4096> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe.get()) != nullptr) {
        output += chunk.data();
    }
    return output;
}

} // namespace somnara::test
