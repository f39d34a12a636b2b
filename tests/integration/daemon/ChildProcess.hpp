#pragma once

#include <poll.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace somnara::test {

/// A program started in the background by the shell, whose output (standard error included) is read
/// line by line as it comes; ended with SIGTERM.
class ChildProcess {
public:
    explicit ChildProcess(const std::string& command)
        : pipe_(popen(("exec 2>&1; " + command + " & echo $!; wait $!; echo exit $?").c_str(), "r")) {
        // Unbuffered, so that a line already read from the pipe is never waited for.
        std::setvbuf(pipe_, nullptr, _IONBF, 0);
        pid_ = std::atoi(waitFor("").c_str());
    }
    ~ChildProcess() {
        terminate();
        pclose(pipe_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// The next line starting with `prefix`; empty when none comes within 30 s.
    std::string waitFor(const std::string& prefix) {
        char line[4096];
        pollfd wanted{fileno(pipe_), POLLIN, 0};
        while (poll(&wanted, 1, 30'000) > 0 && std::fgets(line, sizeof line, pipe_) != nullptr) {
            const std::string text(line);
            if (text.find(prefix) != std::string::npos) {
                return text.substr(text.find(prefix));
            }
        }
        return {};
    }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && kill(pid_, 0) == 0; }
    /// Sends SIGTERM and returns the exit status the shell saw (143 when the signal ended it).
    int terminate() {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, SIGTERM);
        pid_ = -1;
        const auto line = waitFor("exit ");
        return line.empty() ? -1 : std::atoi(line.c_str() + 5);
    }

private:
    FILE* pipe_;
    pid_t pid_ = -1;
};

} // namespace somnara::test
