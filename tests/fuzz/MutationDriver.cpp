// A deterministic mutation fuzzer for machines without libFuzzer: takes the seed files, applies a
// bounded number of random mutations (bit flips, overwritten, inserted and removed ranges, cuts), and
// runs each result through the same entry point as the libFuzzer target. Same seed, same inputs.
//
//   fuzz_ffmpeg_audio_file_mutations RUNS SEED CORPUS_DIR...

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s RUNS SEED CORPUS_DIR...\n", argv[0]);
        return 2;
    }
    const long runs = std::atol(argv[1]);
    std::mt19937_64 rng(std::strtoull(argv[2], nullptr, 10));
    std::vector<std::vector<std::uint8_t>> seeds;
    for (int i = 3; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(entry.path(), std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "no seed files\n");
        return 2;
    }
    std::sort(seeds.begin(), seeds.end()); // directory order is not deterministic
    const auto below = [&](std::size_t bound) {
        return bound == 0 ? 0 : static_cast<std::size_t>(rng() % bound);
    };
    for (const auto& seed : seeds) {
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
    for (long run = 0; run < runs; ++run) {
        std::vector<std::uint8_t> input = seeds[below(seeds.size())];
        const std::size_t mutations = 1 + below(8);
        for (std::size_t m = 0; m < mutations && !input.empty(); ++m) {
            const std::size_t at = below(input.size());
            switch (below(6)) {
            case 0: // flip a bit
                input[at] ^= static_cast<std::uint8_t>(1U << below(8));
                break;
            case 1: // overwrite a few bytes
                for (std::size_t k = 0; k < 1 + below(8) && at + k < input.size(); ++k) {
                    input[at + k] = static_cast<std::uint8_t>(rng());
                }
                break;
            case 2: // an "interesting" value, such as a size field set to 0 or to the maximum
                input[at] = std::vector<std::uint8_t>{0x00, 0x01, 0x7f, 0x80, 0xff}[below(5)];
                break;
            case 3: // insert random bytes
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), 1 + below(16),
                             static_cast<std::uint8_t>(rng()));
                break;
            case 4: // remove a range
                input.erase(input.begin() + static_cast<std::ptrdiff_t>(at),
                            input.begin() +
                                static_cast<std::ptrdiff_t>(std::min(input.size(), at + 1 + below(64))));
                break;
            default: // cut the file
                input.resize(at);
                break;
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld mutated inputs from %zu seeds: no crash\n", runs, seeds.size());
    return 0;
}
