#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

/// The built program started with `arguments`, `environment` added to the test's own; its standard output
/// goes nowhere and its standard error is read line by line. Killed when it goes, unless waited for.
class SomnaraProcess {
public:
    SomnaraProcess(const std::vector<std::pair<std::string, std::string>>& environment,
                   const std::vector<std::string>& arguments) {
        int pipe[2];
        if (::pipe(pipe) != 0) {
            throw std::runtime_error("pipe failed");
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
            ::dup2(pipe[1], STDERR_FILENO);
            ::close(pipe[0]);
            for (const auto& [name, value] : environment) {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
            const auto program = somnaraProgram().string();
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipe[1]);
        errors_ = ::fdopen(pipe[0], "r");
    }
    ~SomnaraProcess() {
        if (pid_ > 0) {
            kill();
        }
        std::fclose(errors_);
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
        ::kill(pid_, SIGKILL);
        wait();
    }
    /// The exit status once the program has ended; -1 when a signal ended it.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    std::FILE* errors_ = nullptr;
};

} // namespace somnara::test
