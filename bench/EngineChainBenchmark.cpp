// The engine doing the peers' work (see run-peers.sh): N looping stereo 44.1 kHz sounds, each at its own
// volume with the slow pan sweep, mixed, then pitch −300 cents → varispeed 0.9 → echo 0.5 s / 30 % /
// 20 % → large-hall reverb 30 % wet → EQ (the non-zero bands) → master 0.8, rendered offline.
//
//   bench_engine_chain                          Google Benchmark, 600 s of audio per run
//   SOMNARA_BENCH_SECONDS=60 bench_engine_chain shorter runs
//   MATERIAL=/tmp/peer-material ...             loops read from the peers' WAV files (else synthesised)
//   SOMNARA_BENCH_BYPASS=speed,pitch ...        the same with some units bypassed
//   bench_engine_chain --realtime 20 [--sounds 3] [--output null|pulse] [--latency S]
//                                               plays in real time and prints the CPU share it cost

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioUnitDelay.hpp>
#include <somnara/audio/AudioUnitEQ.hpp>
#include <somnara/audio/AudioUnitReverb.hpp>
#include <somnara/audio/AudioUnitTimePitch.hpp>
#include <somnara/audio/AudioUnitVarispeed.hpp>
#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>
#include <somnara/linux/pulse/PulseAudioOutput.hpp>
#include <somnara/runtime/Loop.hpp>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace somnara {
namespace {

constexpr double rate = 44'100;
constexpr std::array<float, 8> volumes{0.8F, 0.6F, 0.7F, 0.5F, 0.9F, 0.4F, 0.65F, 0.55F};
constexpr std::array<const char*, 8> materialNames{"01-brown", "02-pink", "03-white",  "04-wind",
                                                   "05-surf",  "06-rain", "07-stream", "08-fan"};
constexpr std::array<float, 10> eqFrequencies{20,     2'223,  4'426,  6'629,  8'832,
                                              11'035, 13'238, 15'441, 17'644, 19'847};
constexpr std::array<float, 10> eqGains{3, 0, -2, 0, 4, 0, -3, 0, 2, -6};
constexpr double panSweepSeconds = 10;
constexpr std::size_t panStepFrames = 441; // the pan moves every 10 ms, as the oscillator does

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// Deterministic 30 s noise bed, used when the peers' material is not there.
std::shared_ptr<AudioPcmBuffer> synthesisedLoop(std::size_t index) {
    auto buffer = std::make_shared<AudioPcmBuffer>();
    buffer->format = AudioFormat{rate, 2};
    const auto frames = static_cast<std::size_t>(30 * rate);
    std::uint64_t state = 0x9e3779b97f4a7c15ULL * (index + 1);
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<float> samples(frames);
        float low = 0;
        for (auto& sample : samples) {
            state = state * 6'364'136'223'846'793'005ULL + 1'442'695'040'888'963'407ULL;
            const float white =
                static_cast<float>(static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5);
            low += 0.02F * (white - low);
            sample = 0.3F * (index % 2 == 0 ? white : 8.0F * low);
        }
        buffer->channels.push_back(std::move(samples));
    }
    return buffer;
}

/// The player's graph with the peers' settings, and N sounds that loop by keeping three copies queued.
class ChainRig {
public:
    ChainRig(std::shared_ptr<AudioOutput> output, int sounds)
        : engine_(std::make_shared<AudioEngine>(std::move(output))) {
        auto mixer = std::make_shared<AudioMixerNode>();
        auto pitch = std::make_shared<AudioUnitTimePitch>();
        auto speed = std::make_shared<AudioUnitVarispeed>();
        auto delay = std::make_shared<AudioUnitDelay>();
        auto reverb = std::make_shared<AudioUnitReverb>();
        auto eq = std::make_shared<AudioUnitEQ>();
        pitch->setPitch(-300);
        speed->setRate(0.9F);
        delay->setDelayTime(0.5F);
        delay->setFeedback(30);
        delay->setWetDryMix(20);
        reverb->loadFactoryPreset(AudioUnitReverbPreset::largeHall);
        reverb->setWetDryMix(30);
        for (std::size_t band = 0; band < eqFrequencies.size(); ++band) {
            auto& parameters = eq->bands()[band];
            parameters.setFilterType(AudioUnitEQFilterType::parametric);
            parameters.setFrequency(eqFrequencies[band]);
            parameters.setBandwidth(0.1F);
            parameters.setGain(eqGains[band]);
            parameters.setBypass(eqGains[band] == 0);
        }
        // SOMNARA_BENCH_BYPASS=pitch,speed,echo,reverb,eq bypasses units, to see what each one costs.
        const std::string bypassed =
            std::getenv("SOMNARA_BENCH_BYPASS") != nullptr ? std::getenv("SOMNARA_BENCH_BYPASS") : "";
        const auto off = [&](const char* name) { return bypassed.find(name) != std::string::npos; };
        pitch->setBypass(off("pitch"));
        speed->setBypass(off("speed"));
        delay->setBypass(off("echo"));
        reverb->setBypass(off("reverb"));
        eq->setBypass(off("eq"));
        engine_->connect(mixer, pitch);
        engine_->connect(pitch, speed);
        engine_->connect(speed, delay);
        engine_->connect(delay, reverb);
        engine_->connect(reverb, eq);
        engine_->connect(eq, engine_->mainMixerNode());
        engine_->mainMixerNode()->setOutputVolume(0.8F);

        const char* material = std::getenv("MATERIAL");
        for (int i = 0; i < sounds; ++i) {
            auto player = std::make_shared<AudioPlayerNode>();
            engine_->connect(player, mixer);
            player->setVolume(volumes[static_cast<std::size_t>(i)]);
            Sound sound{player, nullptr, nullptr};
            const auto path = material != nullptr
                                  ? std::filesystem::path{material} /
                                        (std::string{materialNames[static_cast<std::size_t>(i)]} + ".wav")
                                  : std::filesystem::path{};
            if (!path.empty() && std::filesystem::exists(path)) {
                sound.file = openAudioFile(path);
            } else {
                sound.buffer = synthesisedLoop(static_cast<std::size_t>(i));
            }
            sounds_.push_back(std::move(sound));
        }
        for (std::size_t i = 0; i < sounds_.size(); ++i) {
            for (int copy = 0; copy < 3; ++copy) {
                queueCopy(i);
            }
            sounds_[i].player->play();
        }
        engine_->start();
    }

    AudioEngine& engine() { return *engine_; }

    /// The same pan on every sound: a triangle sweeping from one side to the other in 10 s.
    void setPan(double seconds) {
        const double phase = std::fmod(seconds / (2 * panSweepSeconds), 1.0);
        const auto pan = static_cast<float>(phase < 0.5 ? -1.0 + 4.0 * phase : 3.0 - 4.0 * phase);
        for (auto& sound : sounds_) {
            sound.player->setPan(pan);
        }
    }

private:
    struct Sound {
        std::shared_ptr<AudioPlayerNode> player;
        std::shared_ptr<AudioFile> file;
        std::shared_ptr<AudioPcmBuffer> buffer;
    };

    void queueCopy(std::size_t index) {
        auto& sound = sounds_[index];
        auto again = [this, index](const PlaybackCompletion& completion) {
            if (completion.playedBack) {
                queueCopy(index);
            }
        };
        if (sound.file) {
            sound.player->scheduleFile(sound.file, again);
        } else {
            sound.player->scheduleBuffer(sound.buffer, again);
        }
    }

    std::shared_ptr<AudioEngine> engine_;
    std::vector<Sound> sounds_;
};

double benchSeconds() {
    const char* value = std::getenv("SOMNARA_BENCH_SECONDS");
    return value != nullptr ? std::atof(value) : 600.0;
}

void fullChainOffline(benchmark::State& state) {
    const int sounds = static_cast<int>(state.range(0));
    const double seconds = benchSeconds();
    double cpu = 0;
    for (auto _ : state) {
        VirtualLoop loop;
        AudioOutputConfiguration configuration;
        configuration.sampleRate = rate;
        configuration.maximumFramesPerRender = 512;
        const double before = cpuSeconds();
        ChainRig rig{AudioOutput::make("offline", configuration), sounds};
        const auto total = static_cast<std::int64_t>(seconds * rate);
        for (std::int64_t done = 0; done < total; done += static_cast<std::int64_t>(panStepFrames)) {
            rig.setPan(static_cast<double>(done) / rate);
            const auto frames = static_cast<std::size_t>(std::min<std::int64_t>(panStepFrames, total - done));
            rig.engine().renderOffline(nullptr, nullptr, frames);
            loop.runUntilIdle(); // completions queue the next copies
        }
        cpu += cpuSeconds() - before; // includes the decoding worker
    }
    state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
    state.counters["rtf_cpu"] = seconds * static_cast<double>(state.iterations()) / cpu;
    state.counters["audio_s"] = seconds;
}

BENCHMARK(fullChainOffline)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

/// Plays in real time through the null output (paced by the loop's real clock) or PulseAudio and
/// reports the CPU share of the whole process over the run.
int realtime(double seconds, int sounds, const std::string& outputName, std::optional<double> latency) {
    RealLoop loop;
    AudioOutputConfiguration configuration;
    configuration.latency = latency.value_or(configuration.latency);
    configuration.sampleRate = rate;
    configuration.maximumFramesPerRender = 1024;
    registerPulseAudioOutput();
    ChainRig rig{AudioOutput::make(outputName, configuration), sounds};
    const auto start = loop.continuousNow();
    const double cpuBefore = cpuSeconds();
    // The pan moves every 10 ms, as the oscillator would move it.
    std::function<void()> tick = [&] {
        const double elapsed = Seconds{loop.continuousNow() - start}.count();
        if (elapsed >= seconds) {
            loop.stop();
            return;
        }
        rig.setPan(elapsed);
        loop.addTimer(loop.continuousNow() + std::chrono::milliseconds{10}, Seconds{0.002}, [&] { tick(); });
    };
    tick();
    loop.run();
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = Seconds{loop.continuousNow() - start}.count();
    std::printf("realtime output=%s latency_s=%.3f sounds=%d wall_s=%.2f cpu_s=%.3f cpu_percent=%.3f "
                "frames=%lld underruns=%llu\n",
                outputName.c_str(), configuration.latency, sounds, wall, cpu, 100.0 * cpu / wall,
                static_cast<long long>(rig.engine().framesRendered()),
                static_cast<unsigned long long>(rig.engine().underrunCount()));
    rig.engine().stop();
    return 0;
}

} // namespace
} // namespace somnara

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--realtime") == 0 && i + 1 < argc) {
            const double seconds = std::atof(argv[i + 1]);
            int sounds = 3;
            std::string output = "null";
            std::optional<double> latency;
            for (int j = i + 2; j + 1 < argc; j += 2) {
                if (std::strcmp(argv[j], "--sounds") == 0) {
                    sounds = std::atoi(argv[j + 1]);
                } else if (std::strcmp(argv[j], "--output") == 0) {
                    output = argv[j + 1];
                } else if (std::strcmp(argv[j], "--latency") == 0) {
                    latency = std::atof(argv[j + 1]);
                }
            }
            return somnara::realtime(seconds, sounds, output, latency);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
