#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace somnara::test {

struct Outcome {
    int status = -1;
    std::string output;
};

/// Runs the built program through the shell with `environment` (assignments such as
/// "SOMNARA_HOME='/tmp/x'") and `arguments`; returns its exit status and what it wrote to standard
/// output, followed by standard error unless `withErrors` is false.
inline Outcome runSomnara(const std::string& environment, const std::string& arguments,
                          bool withErrors = true) {
    const auto command = environment + " '" +
                         (std::filesystem::path(SOMNARA_BINARY_DIR) / "app" / "somnara").string() + "' " +
                         arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
    Outcome outcome;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return outcome;
    }
    std::array<char, 65'536> buffer{};
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        outcome.output.append(buffer.data(), read);
    }
    const int status = ::pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

/// `runSomnara` without a session bus, so that the program acts on the home's stored state even while
/// another test's daemon runs on the test bus.
inline Outcome runOnStoredState(const std::string& environment, const std::string& arguments,
                                bool withErrors = true) {
    return runSomnara("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent " + environment, arguments,
                      withErrors);
}

} // namespace somnara::test
