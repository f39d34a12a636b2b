#include "AudioDecoder.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>
#include <vector>

namespace somnara {

namespace {

constexpr std::size_t chunkFrames = 16'384;

/// Appends decoded frames to a buffer and publishes them to the render thread.
class BufferWriter {
public:
    explicit BufferWriter(rt::PcmBuffer& buffer) : buffer_(buffer) {}

    std::int64_t written() const noexcept { return written_; }
    bool full() const noexcept { return written_ >= buffer_.length; }

    void append(const float* left, const float* right, std::size_t frames) {
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(frames), buffer_.length - written_));
        if (buffer_.sixteenBit) {
            toSixteenBits(left, buffer_.left16.get() + written_, count);
            toSixteenBits(right, buffer_.right16.get() + written_, count);
        } else {
            std::copy(left, left + count, buffer_.left.get() + written_);
            std::copy(right, right + count, buffer_.right.get() + written_);
        }
        written_ += static_cast<std::int64_t>(count);
        publish();
    }

    /// Fills the rest of the buffer with silence: its memory holds whatever was there before.
    void padWithSilence() {
        const auto rest = static_cast<std::size_t>(buffer_.length - written_);
        if (buffer_.sixteenBit) {
            std::fill_n(buffer_.left16.get() + written_, rest, std::int16_t{0});
            std::fill_n(buffer_.right16.get() + written_, rest, std::int16_t{0});
        } else {
            std::fill_n(buffer_.left.get() + written_, rest, 0.0F);
            std::fill_n(buffer_.right.get() + written_, rest, 0.0F);
        }
        written_ = buffer_.length;
        publish();
    }

    void finish() {
        buffer_.complete_.store(true, std::memory_order_release);
        buffer_.epoch_.fetch_add(1, std::memory_order_release);
        buffer_.epoch_.notify_all();
    }

private:
    /// Rounds to 16 bits (full scale 32768), clipping: a 16-bit source comes back exactly.
    static void toSixteenBits(const float* in, std::int16_t* out, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::int16_t>(std::lrint(std::clamp(in[i] * 32768.0F, -32768.0F, 32767.0F)));
        }
    }

    void publish() {
        // Release: the samples written before are visible to a render thread that acquires `ready_`.
        buffer_.ready_.store(written_, std::memory_order_release);
        buffer_.epoch_.fetch_add(1, std::memory_order_release);
        buffer_.epoch_.notify_all();
    }

    rt::PcmBuffer& buffer_;
    std::int64_t written_ = 0;
};

struct SoxrDeleter {
    void operator()(soxr* resampler) const noexcept { soxr_delete(resampler); }
};

} // namespace

/// One sound being decoded, a chunk per `step`, so that the worker can take turns between sounds.
class AudioDecoder::Decoding {
public:
    Decoding(Job job, Loop& loop, const FailureHandler& onFailure)
        : job_(std::move(job)), writer_(*job_.buffer), loop_(loop), onFailure_(onFailure) {
        const AudioFormat format = job_.file->processingFormat();
        const int channels = std::max(format.channelCount, 1);
        input_.assign(static_cast<std::size_t>(channels), std::vector<float>(chunkFrames));
        for (auto& channel : input_) {
            inputPointers_.push_back(channel.data());
        }
        if (format.sampleRate != job_.outputRate) {
            soxr_error_t error = nullptr;
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            resampler_.reset(
                soxr_create(format.sampleRate, job_.outputRate, 2, &error, &io, &quality, nullptr));
            if (error != nullptr) {
                fail(std::string{"Cannot resample "} + job_.file->url().string() + ": " + error);
                return;
            }
            const auto outCapacity =
                static_cast<std::size_t>(std::ceil(chunkFrames * job_.outputRate / format.sampleRate)) + 64;
            outLeft_.resize(outCapacity);
            outRight_.resize(outCapacity);
        }
        try {
            job_.file->seek(0);
        } catch (const std::exception& error) {
            fail("Cannot decode " + job_.file->url().string() + ": " + error.what());
        }
    }

    /// Decodes the next chunk; false once the sound is finished (complete, failed or abandoned).
    bool step() {
        if (done_) {
            return false;
        }
        rt::PcmBuffer& buffer = *job_.buffer;
        try {
            std::size_t frames = 0;
            if (!buffer.abandoned_.load(std::memory_order_relaxed)) {
                frames = job_.file->read(inputPointers_.data(), chunkFrames);
            }
            if (frames > 0) {
                // A mono file plays the same samples on both sides.
                const float* left = input_[0].data();
                const float* right = input_[input_.size() > 1 ? 1 : 0].data();
                if (resampler_) {
                    resample(left, right, frames);
                } else {
                    writer_.append(left, right, frames);
                }
                if (!writer_.full()) {
                    return true;
                }
            }
            if (resampler_) {
                resample(nullptr, nullptr, 0);
            }
        } catch (const std::exception& error) {
            fail("Cannot decode " + job_.file->url().string() + ": " + error.what());
            return false;
        }
        // A file that came out a little short of its stated length (a resampler's rounding) is padded
        // with silence so that the loop keeps its length.
        if (!writer_.full() && !buffer.abandoned_.load(std::memory_order_relaxed) &&
            buffer.length - writer_.written() <= 64) {
            writer_.padWithSilence();
        }
        finish();
        return false;
    }

    /// Publishes what there is as final.
    void finish() {
        if (!std::exchange(done_, true)) {
            writer_.finish();
        }
    }

private:
    void fail(const std::string& message) {
        loop_.post([handler = onFailure_, message] { handler(message); });
        finish();
    }

    void resample(const float* l, const float* r, std::size_t frames) {
        const float* in[2] = {l, r};
        float* out[2] = {outLeft_.data(), outRight_.data()};
        std::size_t consumed = 0;
        do {
            std::size_t used = 0;
            std::size_t produced = 0;
            const float* at[2] = {in[0] ? in[0] + consumed : nullptr, in[1] ? in[1] + consumed : nullptr};
            soxr_process(resampler_.get(), l ? at : nullptr, frames - consumed, &used, out, outLeft_.size(),
                         &produced);
            consumed += used;
            writer_.append(outLeft_.data(), outRight_.data(), produced);
            if (l == nullptr && produced == 0) {
                break;
            }
        } while (l != nullptr ? consumed < frames : !writer_.full());
    }

    Job job_;
    BufferWriter writer_;
    Loop& loop_;
    const FailureHandler& onFailure_;
    std::vector<std::vector<float>> input_;
    std::vector<float*> inputPointers_;
    std::unique_ptr<soxr, SoxrDeleter> resampler_;
    std::vector<float> outLeft_;
    std::vector<float> outRight_;
    bool done_ = false;
};

AudioDecoder::AudioDecoder(FailureHandler onFailure)
    : onFailure_(std::move(onFailure)), loop_(&Loop::current()), worker_([this] { run(); }) {}

AudioDecoder::~AudioDecoder() {
    {
        std::lock_guard lock{mutex_};
        stopping_ = true;
        for (auto& job : jobs_) {
            job.buffer->complete_.store(true, std::memory_order_release);
            job.buffer->epoch_.fetch_add(1, std::memory_order_release);
            job.buffer->epoch_.notify_all();
        }
        jobs_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

std::int64_t AudioDecoder::lengthAt(const AudioFile& file, double outputRate) noexcept {
    const double rate = file.processingFormat().sampleRate;
    if (rate == outputRate || rate <= 0) {
        return file.length();
    }
    return static_cast<std::int64_t>(std::llround(static_cast<double>(file.length()) * outputRate / rate));
}

void AudioDecoder::decode(std::shared_ptr<AudioFile> file, std::shared_ptr<rt::PcmBuffer> buffer,
                          double outputRate) {
    {
        std::lock_guard lock{mutex_};
        jobs_.push_back(Job{std::move(file), std::move(buffer), outputRate});
    }
    wake_.notify_one();
}

std::size_t AudioDecoder::pending() const {
    std::lock_guard lock{mutex_};
    return jobs_.size() + running_;
}

void AudioDecoder::run() {
    // Sounds take turns a chunk at a time: a sound scheduled while others decode starts at once
    // instead of waiting for them, and none falls behind the render thread that plays it.
    std::vector<std::unique_ptr<Decoding>> active;
    for (;;) {
        std::deque<Job> arrived;
        {
            std::unique_lock lock{mutex_};
            running_ = active.size();
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty() || !active.empty(); });
            if (stopping_) {
                break;
            }
            arrived.swap(jobs_);
            running_ = active.size() + arrived.size();
        }
        for (auto& job : arrived) {
            active.push_back(std::make_unique<Decoding>(std::move(job), *loop_, onFailure_));
        }
        std::erase_if(active, [](const auto& decoding) { return !decoding->step(); });
    }
    for (auto& decoding : active) {
        decoding->finish();
    }
}

} // namespace somnara
