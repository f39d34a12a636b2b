#pragma once

#include "support/ShellOutput.hpp"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
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

/// Mean power of both channels of interleaved stereo frames [from, to): a pan moves sound between the
/// channels without changing it.
inline double powerOf(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    to = std::min(to, samples.size() / 2);
    double sum = 0;
    for (std::size_t i = 2 * from; i < 2 * to; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    return to > from ? sum / double(2 * (to - from)) : 0;
}

/// Records a source (a null sink's monitor) as stereo float at 44.1 kHz from its construction on, on a
/// thread of its own, so that a check reads the sound at the moments the test acted. Waits follow the
/// sound server's clock, not the wall clock.
class MonitorRecorder {
public:
    static constexpr double rate = 44'100;

    explicit MonitorRecorder(const std::string& source = "out.monitor") {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(rate), 2};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(0.02 * rate * 8);
        int error = 0;
        connection_ = pa_simple_new(nullptr, "somnara-test-recorder", PA_STREAM_RECORD, source.c_str(),
                                    "monitor", &spec, nullptr, &attributes, &error);
        if (connection_ == nullptr) {
            error_ = pa_strerror(error);
            return;
        }
        thread_ = std::thread([this] {
            std::vector<float> chunk(2 * frameAt(0.05));
            int error = 0;
            while (!stopping_ &&
                   pa_simple_read(connection_, chunk.data(), chunk.size() * sizeof(float), &error) == 0) {
                const std::lock_guard lock(mutex_);
                samples_.insert(samples_.end(), chunk.begin(), chunk.end());
                recorded_.notify_all();
            }
            const std::lock_guard lock(mutex_);
            ended_ = true;
            recorded_.notify_all();
        });
    }
    ~MonitorRecorder() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (connection_ != nullptr) {
            pa_simple_free(connection_);
        }
    }
    const std::string& error() const { return error_; }

    static std::size_t frameAt(double seconds) {
        return static_cast<std::size_t>(std::max(0.0, seconds) * rate);
    }
    /// Seconds recorded so far.
    double now() {
        const std::lock_guard lock(mutex_);
        return double(samples_.size() / 2) / rate;
    }
    /// Waits until `seconds` have been recorded; false when the recording ended before.
    bool waitUntil(double seconds) {
        std::unique_lock lock(mutex_);
        recorded_.wait(lock, [&] { return ended_ || samples_.size() / 2 >= frameAt(seconds); });
        return samples_.size() / 2 >= frameAt(seconds);
    }
    /// Power of the recording between two moments, once they have been recorded.
    double power(double from, double to) {
        waitUntil(to);
        const std::lock_guard lock(mutex_);
        return powerOf(samples_, frameAt(from), frameAt(to));
    }
    /// The left channel between two moments, once they have been recorded.
    std::vector<float> left(double from, double to) {
        waitUntil(to);
        const std::lock_guard lock(mutex_);
        std::vector<float> channel;
        for (std::size_t i = frameAt(from); i < std::min(frameAt(to), samples_.size() / 2); ++i) {
            channel.push_back(samples_[2 * i]);
        }
        return channel;
    }

private:
    pa_simple* connection_ = nullptr;
    std::string error_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable recorded_;
    std::vector<float> samples_;
    bool ended_ = false;
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
