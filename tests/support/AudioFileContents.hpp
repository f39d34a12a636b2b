#pragma once

#include <somnara/platform/AudioFile.hpp>

#include <cstddef>
#include <vector>

namespace somnara::test {

/// What an audio file holds, decoded.
struct AudioFileContents {
    double sampleRate = 0;
    std::vector<float> left;
    std::vector<float> right;
};

/// Reads `file` from its position to its end in pieces of `chunk` frames.
inline AudioFileContents readToEnd(AudioFile& file, std::size_t chunk = 65'536) {
    AudioFileContents contents{file.processingFormat().sampleRate, {}, {}};
    std::vector<float> left(chunk);
    std::vector<float> right(chunk);
    float* channels[] = {left.data(), right.data()};
    while (const std::size_t got = file.read(channels, chunk)) {
        contents.left.insert(contents.left.end(), left.begin(),
                             left.begin() + static_cast<std::ptrdiff_t>(got));
        contents.right.insert(contents.right.end(), right.begin(),
                              right.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return contents;
}

} // namespace somnara::test
