#include "AudioDecoder.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
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
        std::copy(left, left + count, buffer_.left.get() + written_);
        std::copy(right, right + count, buffer_.right.get() + written_);
        written_ += static_cast<std::int64_t>(count);
        publish();
    }

    /// Fills the rest of the buffer with silence: its memory holds whatever was there before.
    void padWithSilence() {
        const auto rest = static_cast<std::size_t>(buffer_.length - written_);
        std::fill_n(buffer_.left.get() + written_, rest, 0.0F);
        std::fill_n(buffer_.right.get() + written_, rest, 0.0F);
        written_ = buffer_.length;
        publish();
    }

    void finish() {
        buffer_.complete_.store(true, std::memory_order_release);
        buffer_.epoch_.fetch_add(1, std::memory_order_release);
        buffer_.epoch_.notify_all();
    }

private:
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
    for (;;) {
        Job job;
        {
            std::unique_lock lock{mutex_};
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
            ++running_;
        }
        decodeJob(job);
        std::lock_guard lock{mutex_};
        --running_;
    }
}

void AudioDecoder::decodeJob(const Job& job) {
    rt::PcmBuffer& buffer = *job.buffer;
    BufferWriter writer{buffer};
    AudioFile& file = *job.file;
    const AudioFormat format = file.processingFormat();
    const int channels = std::max(format.channelCount, 1);
    std::vector<std::vector<float>> input(static_cast<std::size_t>(channels),
                                          std::vector<float>(chunkFrames));
    std::vector<float*> inputPointers;
    for (auto& channel : input) {
        inputPointers.push_back(channel.data());
    }
    // A mono file plays the same samples on both sides.
    const float* left = input[0].data();
    const float* right = input[channels > 1 ? 1 : 0].data();

    std::unique_ptr<soxr, SoxrDeleter> resampler;
    std::vector<float> outLeft;
    std::vector<float> outRight;
    const bool resampling = format.sampleRate != job.outputRate;
    if (resampling) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        resampler.reset(soxr_create(format.sampleRate, job.outputRate, 2, &error, &io, &quality, nullptr));
        if (error != nullptr) {
            const std::string message = std::string{"Cannot resample "} + file.url().string() + ": " + error;
            loop_->post([handler = onFailure_, message] { handler(message); });
            writer.finish();
            return;
        }
        const auto outCapacity =
            static_cast<std::size_t>(std::ceil(chunkFrames * job.outputRate / format.sampleRate)) + 64;
        outLeft.resize(outCapacity);
        outRight.resize(outCapacity);
    }

    auto resample = [&](const float* l, const float* r, std::size_t frames) {
        const float* in[2] = {l, r};
        float* out[2] = {outLeft.data(), outRight.data()};
        std::size_t consumed = 0;
        do {
            std::size_t used = 0;
            std::size_t produced = 0;
            const float* at[2] = {in[0] ? in[0] + consumed : nullptr, in[1] ? in[1] + consumed : nullptr};
            soxr_process(resampler.get(), l ? at : nullptr, frames - consumed, &used, out, outLeft.size(),
                         &produced);
            consumed += used;
            writer.append(outLeft.data(), outRight.data(), produced);
            if (l == nullptr && produced == 0) {
                break;
            }
        } while (l != nullptr ? consumed < frames : !writer.full());
    };

    try {
        file.seek(0);
        for (;;) {
            if (buffer.abandoned_.load(std::memory_order_relaxed)) {
                break;
            }
            const std::size_t frames = file.read(inputPointers.data(), chunkFrames);
            if (frames == 0) {
                break;
            }
            if (resampling) {
                resample(left, right, frames);
            } else {
                writer.append(left, right, frames);
            }
            if (writer.full()) {
                break;
            }
        }
        if (resampling) {
            resample(nullptr, nullptr, 0);
        }
    } catch (const std::exception& error) {
        const std::string message = "Cannot decode " + file.url().string() + ": " + error.what();
        loop_->post([handler = onFailure_, message] { handler(message); });
    }
    // A file that came out a little short of its stated length (a resampler's rounding) is padded
    // with silence so that the loop keeps its length.
    if (!writer.full() && !buffer.abandoned_.load(std::memory_order_relaxed) &&
        buffer.length - writer.written() <= 64) {
        writer.padWithSilence();
    }
    writer.finish();
}

} // namespace somnara
