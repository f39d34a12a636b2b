#include "AudioDecoder.hpp"

#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <utility>
#include <vector>

namespace somnara {

namespace {

constexpr std::size_t chunkFrames = 4'096;
/// A resampler's rounding may leave a file this much short of its stated length: padded with silence.
constexpr std::int64_t toleratedShortfall = 64;

/// Writes decoded frames into an item's ring and publishes them to the render thread.
class RingWriter {
public:
    explicit RingWriter(rt::PcmBuffer& buffer) : buffer_(buffer) {}

    std::int64_t written() const noexcept { return written_; }
    bool full() const noexcept { return written_ >= buffer_.length; }
    /// The ring holds all it can until the render thread consumes more (or the item is whole).
    bool primed() const noexcept { return written_ >= buffer_.capacity || full(); }

    /// Writes as many of `frames` as fit without overwriting frames the render thread has not played
    /// (silence when `left` is null); returns how many.
    std::size_t append(const float* left, const float* right, std::size_t frames) {
        const std::int64_t consumed = buffer_.consumed_.load(std::memory_order_acquire);
        const std::int64_t room = std::min(buffer_.length, consumed + buffer_.capacity) - written_;
        const auto count = static_cast<std::size_t>(std::min(static_cast<std::int64_t>(frames), room));
        for (std::size_t done = 0; done < count;) {
            const std::size_t at = buffer_.slot(written_ + static_cast<std::int64_t>(done));
            const std::size_t run = std::min(count - done, static_cast<std::size_t>(buffer_.capacity) - at);
            if (buffer_.sixteenBit) {
                store(left, done, run, buffer_.left16.get() + at);
                store(right, done, run, buffer_.right16.get() + at);
            } else {
                store(left, done, run, buffer_.left.get() + at);
                store(right, done, run, buffer_.right.get() + at);
            }
            done += run;
        }
        if (count > 0) {
            written_ += static_cast<std::int64_t>(count);
            // Release: the samples written before are visible to a render thread that acquires `ready_`.
            buffer_.ready_.store(written_, std::memory_order_release);
            bumpEpoch();
        }
        return count;
    }

    void finish() {
        buffer_.complete_.store(true, std::memory_order_release);
        bumpEpoch();
    }

private:
    static void store(const float* in, std::size_t from, std::size_t count, float* out) noexcept {
        if (in == nullptr) {
            std::fill_n(out, count, 0.0F);
        } else {
            std::copy_n(in + from, count, out);
        }
    }

    /// Rounds to 16 bits (full scale 32768), clipping: a 16-bit source comes back exactly.
    static void store(const float* in, std::size_t from, std::size_t count, std::int16_t* out) noexcept {
        if (in == nullptr) {
            std::fill_n(out, count, std::int16_t{0});
            return;
        }
        // This runs for every frame that plays, so it is written to vectorise: rounded by the processor's
        // conversion (to nearest; out of range gives INT_MIN, never undefined behaviour), clamped after
        // in int.
        for (std::size_t i = 0; i < count; ++i) {
            const int rounded = __builtin_irintf(in[from + i] * 32768.0F);
            out[i] = static_cast<std::int16_t>(std::clamp(rounded, -32'768, 32'767));
        }
    }

    void bumpEpoch() {
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

/// One item being streamed into its ring, a chunk per `step`, so that the worker can take turns between
/// items. Copies of one file share the file object, so each item keeps its own read position.
class AudioDecoder::Decoding {
public:
    enum class Step { progressed, waiting, finished };

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
    }

    bool primed() const noexcept { return done_ || writer_.primed(); }
    /// How long the ring lasts at the engine's rate, played at double speed (the fastest there is).
    double ringSeconds() const noexcept {
        return static_cast<double>(job_.buffer->capacity) / job_.outputRate / 2.0;
    }
    /// Items of one file queued on one player decode in turn, each from the start: the file reads on
    /// without seeking. Anything else shares the file by seeking.
    bool follows(const Decoding& earlier) const noexcept {
        return !earlier.done_ && earlier.job_.file == job_.file && earlier.job_.queue == job_.queue;
    }

    Step step() {
        if (done_) {
            return Step::finished;
        }
        if (job_.buffer->abandoned_.load(std::memory_order_relaxed)) {
            finish();
            return Step::finished;
        }
        if (stagedFrames_ == 0 && !sourceEnded_ && !writer_.full()) {
            try {
                stage();
            } catch (const std::exception& error) {
                fail("Cannot decode " + job_.file->url().string() + ": " + error.what());
                return Step::finished;
            }
        }
        if (stagedFrames_ > 0 && !writer_.full()) {
            const std::size_t written = writer_.append(stagedLeft_, stagedRight_, stagedFrames_);
            stagedLeft_ += written;
            stagedRight_ += written;
            stagedFrames_ -= written;
            return written > 0 ? Step::progressed : Step::waiting;
        }
        if (!sourceEnded_ && !writer_.full()) {
            return Step::progressed; // the resampler took a chunk in and has given nothing out yet
        }
        const std::int64_t missing = job_.buffer->length - writer_.written();
        if (missing > 0 && missing <= toleratedShortfall) {
            const std::size_t written = writer_.append(nullptr, nullptr, static_cast<std::size_t>(missing));
            if (static_cast<std::int64_t>(written) < missing) {
                return written > 0 ? Step::progressed : Step::waiting;
            }
        }
        finish();
        return Step::finished;
    }

    bool finished() const noexcept { return done_; }

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

    /// Decodes the next chunk (and resamples it) into the staged frames; marks the end of the source.
    void stage() {
        std::size_t frames = 0;
        if (!flushing_) {
            AudioFile& file = *job_.file;
            // Another copy of the same file may have read since this one last did.
            if (file.framePosition() != nextFrame_) {
                file.seek(nextFrame_);
            }
            frames = file.read(inputPointers_.data(), chunkFrames);
            nextFrame_ += static_cast<std::int64_t>(frames);
            flushing_ = frames == 0;
        }
        // A mono file plays the same samples on both sides.
        const float* left = input_[0].data();
        const float* right = input_[input_.size() > 1 ? 1 : 0].data();
        if (!resampler_) {
            stagedLeft_ = left;
            stagedRight_ = right;
            stagedFrames_ = frames;
            sourceEnded_ = flushing_;
            return;
        }
        const std::size_t produced =
            flushing_ ? resample(nullptr, nullptr, 0) : resample(left, right, frames);
        stagedLeft_ = outLeft_.data();
        stagedRight_ = outRight_.data();
        stagedFrames_ = produced;
        sourceEnded_ = flushing_ && produced == 0;
    }

    /// Resamples `frames` frames (the resampler's tail when `l` is null) into the output buffers,
    /// which grow if a chunk needs more; returns the frames produced.
    std::size_t resample(const float* l, const float* r, std::size_t frames) {
        std::size_t consumed = 0;
        std::size_t produced = 0;
        for (;;) {
            if (outLeft_.size() - produced < 64) {
                outLeft_.resize(2 * outLeft_.size());
                outRight_.resize(2 * outRight_.size());
            }
            const float* in[2] = {l != nullptr ? l + consumed : nullptr,
                                  r != nullptr ? r + consumed : nullptr};
            float* out[2] = {outLeft_.data() + produced, outRight_.data() + produced};
            std::size_t used = 0;
            std::size_t made = 0;
            soxr_process(resampler_.get(), l != nullptr ? in : nullptr, frames - consumed, &used, out,
                         outLeft_.size() - produced, &made);
            consumed += used;
            produced += made;
            // The tail comes a buffer at a time: the next step asks for more.
            if (l == nullptr || consumed >= frames) {
                return produced;
            }
        }
    }

    Job job_;
    RingWriter writer_;
    Loop& loop_;
    const FailureHandler& onFailure_;
    std::vector<std::vector<float>> input_;
    std::vector<float*> inputPointers_;
    std::unique_ptr<soxr, SoxrDeleter> resampler_;
    std::vector<float> outLeft_;
    std::vector<float> outRight_;
    /// Decoded frames not yet in the ring: it was full.
    const float* stagedLeft_ = nullptr;
    const float* stagedRight_ = nullptr;
    std::size_t stagedFrames_ = 0;
    std::int64_t nextFrame_ = 0;
    bool flushing_ = false;
    bool sourceEnded_ = false;
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
                          double outputRate, const void* queue) {
    buffer->wakeWriter = [this] { wake(); };
    {
        std::lock_guard lock{mutex_};
        jobs_.push_back(Job{std::move(file), std::move(buffer), outputRate, queue});
    }
    wake_.notify_one();
}

std::size_t AudioDecoder::pending() const {
    std::lock_guard lock{mutex_};
    return jobs_.size() + priming_;
}

void AudioDecoder::wake() {
    {
        std::lock_guard lock{mutex_};
        woken_ = true;
    }
    wake_.notify_one();
}

void AudioDecoder::run() {
    std::vector<std::unique_ptr<Decoding>> active;
    for (;;) {
        bool progressed = false;
        for (auto item = active.begin(); item != active.end(); ++item) {
            const bool waitsItsTurn = std::any_of(
                active.begin(), item, [&](const auto& earlier) { return (*item)->follows(*earlier); });
            if (!waitsItsTurn) {
                progressed = (*item)->step() == Decoding::Step::progressed || progressed;
            }
        }
        double sleep = 1.0;
        std::size_t priming = 0;
        for (const auto& decoding : active) {
            sleep = std::min(sleep, decoding->ringSeconds() / 2.0);
            priming += decoding->primed() ? 0 : 1;
        }
        std::erase_if(active, [](const auto& decoding) { return decoding->finished(); });
        std::deque<Job> arrived;
        {
            std::unique_lock lock{mutex_};
            priming_ = priming;
            if (!progressed) {
                // Every ring is full: sleep until half of the fastest one has played, a new item comes,
                // or an offline render waits for frames.
                const auto due = [&] { return stopping_ || !jobs_.empty() || std::exchange(woken_, false); };
                if (active.empty()) {
                    wake_.wait(lock, due);
                } else {
                    wake_.wait_for(lock, std::chrono::duration<double>(sleep), due);
                }
            }
            if (stopping_) {
                break;
            }
            arrived.swap(jobs_);
            priming_ += arrived.size();
        }
        for (auto& job : arrived) {
            active.push_back(std::make_unique<Decoding>(std::move(job), *loop_, onFailure_));
        }
    }
    for (auto& decoding : active) {
        decoding->finish();
    }
}

} // namespace somnara
