#pragma once

#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/types.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

inline bool phoneIsListed() {
    return shellOutput("pactl list sink-inputs").find("media.role = \"phone\"") != std::string::npos;
}

/// A "phone" stream playing silence in a process of its own, until it hangs up.
class PhoneCall {
public:
    PhoneCall()
        : pid_(std::stoi(
              shellOutput("pacat --property=media.role=phone /dev/zero >/dev/null 2>&1 & echo $!"))) {}
    ~PhoneCall() { hangUp(); }
    void hangUp() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            pid_ = 0;
        }
    }

private:
    pid_t pid_;
};

/// Records `frames` stereo float frames from a source (the null sink's monitor) on its own thread.
class MonitorRecorder {
public:
    MonitorRecorder(const std::string& source, std::size_t frames) : samples_(2 * frames) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 44'100U, 2};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(0.02 * 44'100 * 8);
        int error = 0;
        connection_ = pa_simple_new(nullptr, "somnara-test-recorder", PA_STREAM_RECORD, source.c_str(),
                                    "monitor", &spec, nullptr, &attributes, &error);
        if (connection_ == nullptr) {
            error_ = pa_strerror(error);
            return;
        }
        thread_ = std::thread([this] {
            int error = 0;
            ok_ = pa_simple_read(connection_, samples_.data(), samples_.size() * sizeof(float), &error) == 0;
        });
    }
    ~MonitorRecorder() {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (connection_ != nullptr) {
            pa_simple_free(connection_);
        }
    }
    const std::string& error() const { return error_; }
    /// Waits until every frame has been recorded; the left channel.
    std::vector<float> left() {
        thread_.join();
        std::vector<float> channel(samples_.size() / 2);
        for (std::size_t i = 0; i < channel.size(); ++i) {
            channel[i] = samples_[2 * i];
        }
        return channel;
    }
    bool ok() const { return ok_; }

private:
    pa_simple* connection_ = nullptr;
    std::vector<float> samples_;
    std::string error_;
    bool ok_ = false;
    std::thread thread_;
};

/// The entry of the stream of `applicationName` in the server's list of streams, starting with its
/// index; empty while there is none.
inline std::string sinkInputOf(const std::string& applicationName) {
    const std::string listing = shellOutput("pactl list sink-inputs");
    const std::string heading = "Sink Input #";
    for (auto start = listing.find(heading); start != std::string::npos;) {
        const auto end = listing.find(heading, start + 1);
        std::string entry = listing.substr(start + heading.size(), end - start - heading.size());
        if (entry.find("application.name = \"" + applicationName + '"') != std::string::npos) {
            return entry;
        }
        start = end;
    }
    return "";
}

} // namespace somnara::test
