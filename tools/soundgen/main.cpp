// somnara-soundgen: synthesises the fifty loops, brings them to one loudness and writes the compressed
// (AAC) and lossless (ALAC) ".m4a" copies. Deterministic: the same seed writes the same sounds.

#include "Encoder.hpp"
#include "Mastering.hpp"
#include "Sounds.hpp"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace somnara::soundgen;

struct Options {
    std::optional<std::filesystem::path> compressed;
    std::optional<std::filesystem::path> lossless;
    double rate = 44'100;
    double seconds = 30;
    std::uint64_t seed = 1;
    unsigned jobs = std::max(1U, std::thread::hardware_concurrency());
    std::vector<std::string> sounds;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "somnara-soundgen: " << problem << "\n"
              << "usage: somnara-soundgen [--compressed DIR] [--lossless DIR] [--rate HZ] [--seconds S]\n"
              << "                        [--seed N] [--jobs N] [--sounds NAME,NAME...]\n";
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            usage("missing value after " + flag);
        }
        const std::string value = argv[++i];
        try {
            if (flag == "--compressed") {
                options.compressed = value;
            } else if (flag == "--lossless") {
                options.lossless = value;
            } else if (flag == "--rate") {
                options.rate = std::stod(value);
            } else if (flag == "--seconds") {
                options.seconds = std::stod(value);
            } else if (flag == "--seed") {
                options.seed = std::stoull(value);
            } else if (flag == "--jobs") {
                options.jobs = static_cast<unsigned>(std::max(1, std::stoi(value)));
            } else if (flag == "--sounds") {
                std::stringstream list(value);
                for (std::string name; std::getline(list, name, ',');) {
                    if (findRecipe(name) == nullptr) {
                        usage("no sound named \"" + name + "\"");
                    }
                    options.sounds.push_back(name);
                }
            } else {
                usage("unknown option " + flag);
            }
        } catch (const std::logic_error&) {
            usage("bad value for " + flag + ": " + value);
        }
    }
    if (options.rate < 8000 || options.seconds < 0.1) {
        usage("the rate must be at least 8000 Hz and the loop at least 0.1 s");
    }
    if (options.sounds.empty()) {
        for (const auto& recipe : soundRecipes()) {
            options.sounds.emplace_back(recipe.fileName);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    // The encoder's statistics lines are noise here; errors still show.
    av_log_set_level(AV_LOG_ERROR);
    for (const auto& dir : {options.compressed, options.lossless}) {
        if (dir) {
            std::filesystem::create_directories(*dir);
        }
    }
    const auto frames = static_cast<std::size_t>(std::llround(options.seconds * options.rate));
    const auto started = std::chrono::steady_clock::now();
    std::atomic<std::size_t> nextSound{0};
    std::atomic<bool> failed{false};
    std::mutex printing;
    auto work = [&] {
        for (std::size_t index = nextSound++; index < options.sounds.size() && !failed; index = nextSound++) {
            const std::string& name = options.sounds[index];
            try {
                const auto begin = std::chrono::steady_clock::now();
                Stereo loop = synthesise(*findRecipe(name), options.rate, frames, options.seed);
                const double loudness = master(loop, options.rate, options.seed);
                if (std::abs(loudness - targetLoudness) > 0.5) {
                    throw std::runtime_error("cannot bring it to " + std::to_string(targetLoudness) +
                                             " LUFS without clipping (reached " + std::to_string(loudness) +
                                             ")");
                }
                if (options.compressed) {
                    writeM4a(*options.compressed / (name + ".m4a"), loop, static_cast<int>(options.rate),
                             Codec::aac);
                }
                if (options.lossless) {
                    writeM4a(*options.lossless / (name + ".m4a"), loop, static_cast<int>(options.rate),
                             Codec::alac);
                }
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
                const std::lock_guard lock(printing);
                std::printf("%-12s %6.2f LUFS  %5.2f s\n", name.c_str(), loudness, took.count());
                std::fflush(stdout);
            } catch (const std::exception& error) {
                const std::lock_guard lock(printing);
                std::fprintf(stderr, "somnara-soundgen: %s: %s\n", name.c_str(), error.what());
                failed = true;
            }
        }
    };
    std::vector<std::thread> workers;
    for (unsigned j = 1; j < options.jobs; ++j) {
        workers.emplace_back(work);
    }
    work();
    for (auto& worker : workers) {
        worker.join();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("%zu sounds, %.0f s loops at %.0f Hz, in %.1f s\n", options.sounds.size(), options.seconds,
                options.rate, took.count());
    return failed ? 1 : 0;
}
