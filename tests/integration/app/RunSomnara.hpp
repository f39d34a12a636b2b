#pragma once

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace somnara::test {

inline std::filesystem::path somnaraProgram() {
    return std::filesystem::path(SOMNARA_BINARY_DIR) / "app" / "somnara";
}

struct Outcome {
    int status = -1;
    std::string output;
};

/// Runs the built program through the shell with `environment` (assignments such as
/// "SOMNARA_HOME='/tmp/x'") and `arguments`; returns its exit status and what it wrote to standard
/// output, followed by standard error unless `withErrors` is false.
inline Outcome runSomnara(const std::string& environment, const std::string& arguments,
                          bool withErrors = true) {
    const auto command = environment + " '" + somnaraProgram().string() + "' " + arguments +
                         (withErrors ? " 2>&1" : " 2>/dev/null");
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

/// A fresh home, its own settings and state, that the program runs in without a daemon.
class HomeTest : public ::testing::Test {
protected:
    Outcome somnara(const std::string& arguments, bool withErrors = true) {
        return runOnStoredState("SOMNARA_HOME='" + home.path().string() + "'", arguments, withErrors);
    }

    TemporaryDirectory home{"somnara-home"};
};

/// The built program started through the shell like `runSomnara`, without waiting for it: its standard
/// output goes nowhere and its standard error is read line by line. Killed when it goes, unless waited for.
class SomnaraProcess {
public:
    SomnaraProcess(const std::string& environment, const std::string& arguments)
        : errors_(::popen(("echo $$; exec env " + environment + " '" + somnaraProgram().string() + "' " +
                           arguments + " 2>&1 >/dev/null")
                              .c_str(),
                          "r")) {
        if (errors_ == nullptr || std::fscanf(errors_, "%d", &pid_) != 1) {
            throw std::runtime_error("the program did not start");
        }
    }
    ~SomnaraProcess() {
        kill();
        wait();
    }
    SomnaraProcess(const SomnaraProcess&) = delete;
    SomnaraProcess& operator=(const SomnaraProcess&) = delete;

    /// Reads standard error until a line starts with `prefix`; false at its end.
    bool waitForLine(std::string_view prefix) {
        std::array<char, 512> line{};
        while (std::fgets(line.data(), line.size(), errors_) != nullptr) {
            if (std::string_view(line.data()).starts_with(prefix)) {
                return true;
            }
        }
        return false;
    }
    void kill() {
        if (errors_ != nullptr) {
            ::kill(pid_, SIGKILL);
        }
    }
    /// The exit status once the program has ended; -1 when a signal ended it.
    int wait() {
        // Read to the end first: closing the pipe under a program still writing would kill it.
        while (errors_ != nullptr && std::fgetc(errors_) != EOF) {
        }
        const int status = errors_ != nullptr ? ::pclose(errors_) : -1;
        errors_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::FILE* errors_;
    int pid_ = 0;
};

} // namespace somnara::test
