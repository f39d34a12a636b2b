#include "audio/dsp/SincResampler.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SOMNARA_HAVE_AVX2_KERNEL 1
#endif

namespace somnara::dsp {

namespace {

constexpr std::size_t halfTaps = SincResampler::taps / 2;
// Cut-off as a share of the input's Nyquist frequency, and the window's shape: together about 70 dB of
// rejection from the input's Nyquist frequency up, with the pass band flat to about 16 kHz at 44.1 kHz.
constexpr double cutoff = 0.9;
constexpr double kaiserBeta = 8.0;
// The position's fraction is fixed point: its top bits pick the phase, the rest interpolate between
// phases. An integer add per frame keeps the loop free of float-to-integer round trips.
constexpr unsigned fractionBits = SincResampler::fractionBits;
constexpr unsigned phaseBits = 8;
static_assert(SincResampler::phases == 1U << phaseBits);
constexpr std::uint64_t fractionMask = (std::uint64_t{1} << fractionBits) - 1;
constexpr std::uint64_t alphaMask = (std::uint64_t{1} << (fractionBits - phaseBits)) - 1;
constexpr float alphaScale = 1.0f / static_cast<float>(std::uint64_t{1} << (fractionBits - phaseBits));

std::uint64_t increment(double ratio) noexcept {
    return static_cast<std::uint64_t>(
        std::llround(ratio * static_cast<double>(std::uint64_t{1} << fractionBits)));
}

// The full-bandwidth path: output frames at a steady ratio of at most 1, as long as the input reaches. For
// each frame the coefficients are the phase's row plus `alpha` times the step to the next row, applied to
// 32 input frames of each channel.
#define SOMNARA_RESAMPLER_RUN_BODY(FRAME)                                                                    \
    /* In locals: the output stores could alias the run's fields, which would then be reloaded. */           \
    std::int64_t index = r.index;                                                                            \
    std::uint64_t fraction = r.fraction;                                                                     \
    const std::int64_t last = r.end - static_cast<std::int64_t>(halfTaps) - 1;                               \
    const std::int64_t first = r.start + static_cast<std::int64_t>(halfTaps) - 1; /* index of left[0] */     \
    const float* const rows = r.rows;                                                                        \
    const float* const deltas = r.deltas;                                                                    \
    const std::uint64_t increment = r.increment;                                                             \
    std::size_t n = 0;                                                                                       \
    for (; n < frames && index <= last; ++n) {                                                               \
        const auto phase = static_cast<std::size_t>(fraction >> (fractionBits - phaseBits));                 \
        const float alpha = static_cast<float>(fraction & alphaMask) * alphaScale;                           \
        const auto k = static_cast<std::size_t>(index - first);                                              \
        FRAME(rows + phase * SincResampler::taps, deltas + phase * SincResampler::taps, r.left + k,          \
              r.right + k, alpha, outLeft + n, outRight + n);                                                \
        fraction += increment;                                                                               \
        index += static_cast<std::int64_t>(fraction >> fractionBits);                                        \
        fraction &= fractionMask;                                                                            \
    }                                                                                                        \
    r.index = index;                                                                                         \
    r.fraction = fraction;                                                                                   \
    return n

inline void framePortable(const float* rows, const float* deltas, const float* left, const float* right,
                          float alpha, float* outLeft, float* outRight) noexcept {
    using V = float __attribute__((vector_size(16)));
    V sumLeft{};
    V sumRight{};
    for (std::size_t k = 0; k < SincResampler::taps; k += 4) {
        V row;
        V delta;
        V l;
        V r;
        __builtin_memcpy(&row, rows + k, sizeof(V));
        __builtin_memcpy(&delta, deltas + k, sizeof(V));
        __builtin_memcpy(&l, left + k, sizeof(V));
        __builtin_memcpy(&r, right + k, sizeof(V));
        const V c = row + alpha * delta;
        sumLeft += c * l;
        sumRight += c * r;
    }
    *outLeft = (sumLeft[0] + sumLeft[1]) + (sumLeft[2] + sumLeft[3]);
    *outRight = (sumRight[0] + sumRight[1]) + (sumRight[2] + sumRight[3]);
}

std::size_t runPortable(SincResampler::Run& r, float* outLeft, float* outRight, std::size_t frames) noexcept {
    SOMNARA_RESAMPLER_RUN_BODY(framePortable);
}

#if SOMNARA_HAVE_AVX2_KERNEL
__attribute__((target("avx2,fma"), always_inline)) inline void
frameAvx2(const float* rows, const float* deltas, const float* left, const float* right, float alpha,
          float* outLeft, float* outRight) noexcept {
    const __m256 a = _mm256_set1_ps(alpha);
    __m256 sumLeft = _mm256_setzero_ps();
    __m256 sumRight = _mm256_setzero_ps();
    for (std::size_t k = 0; k < SincResampler::taps; k += 8) {
        const __m256 c = _mm256_fmadd_ps(a, _mm256_loadu_ps(deltas + k), _mm256_loadu_ps(rows + k));
        sumLeft = _mm256_fmadd_ps(c, _mm256_loadu_ps(left + k), sumLeft);
        sumRight = _mm256_fmadd_ps(c, _mm256_loadu_ps(right + k), sumRight);
    }
    const __m128 l = _mm_add_ps(_mm256_castps256_ps128(sumLeft), _mm256_extractf128_ps(sumLeft, 1));
    const __m128 r = _mm_add_ps(_mm256_castps256_ps128(sumRight), _mm256_extractf128_ps(sumRight, 1));
    __m128 h = _mm_hadd_ps(l, r);
    h = _mm_hadd_ps(h, h);
    *outLeft = _mm_cvtss_f32(h);
    *outRight = _mm_cvtss_f32(_mm_shuffle_ps(h, h, 1));
}

__attribute__((target("avx2,fma"))) std::size_t runAvx2(SincResampler::Run& r, float* outLeft,
                                                        float* outRight, std::size_t frames) noexcept {
    SOMNARA_RESAMPLER_RUN_BODY(frameAvx2);
}
#endif

#undef SOMNARA_RESAMPLER_RUN_BODY

} // namespace

void SincResampler::prepare(double maxRatio, std::size_t maxFrames) {
    maxRatio_ = std::max(1.0, maxRatio);
    // The kernel k(x) = c·sinc(c·x)·w(x / 16) for x in [-16, 16] input frames, tabulated at 1/phases.
    const std::size_t points = taps * phases + 1;
    table_.assign(points, 0.0f);
    const double norm = std::cyl_bessel_i(0.0, kaiserBeta);
    for (std::size_t i = 0; i < points; ++i) {
        const double x = (static_cast<double>(i) - static_cast<double>(halfTaps * phases)) / phases;
        const double u = x / static_cast<double>(halfTaps);
        const double window =
            std::abs(u) >= 1.0 ? 0.0 : std::cyl_bessel_i(0.0, kaiserBeta * std::sqrt(1.0 - u * u)) / norm;
        const double y = std::numbers::pi * cutoff * x;
        const double sinc = x == 0.0 ? 1.0 : std::sin(y) / y;
        table_[i] = static_cast<float>(cutoff * sinc * window);
    }
    // Row p holds tap k (input frame index - 15 + k) at a fraction of p / phases: table[(k + 1)·phases - p].
    // Each row is scaled to sum to one, so that a constant passes at unity gain whatever the phase.
    rows_.assign((phases + 1) * taps, 0.0f);
    for (std::size_t p = 0; p <= phases; ++p) {
        double sum = 0.0;
        for (std::size_t k = 0; k < taps; ++k) {
            sum += table_[(k + 1) * phases - p];
        }
        for (std::size_t k = 0; k < taps; ++k) {
            rows_[p * taps + k] = static_cast<float>(table_[(k + 1) * phases - p] / sum);
        }
    }
    deltas_.assign(phases * taps, 0.0f);
    for (std::size_t i = 0; i < phases * taps; ++i) {
        deltas_[i] = rows_[i + taps] - rows_[i];
    }
    runner_ = &runPortable;
#if SOMNARA_HAVE_AVX2_KERNEL
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        runner_ = &runAvx2;
    }
#endif
    history_ = static_cast<std::size_t>(std::ceil(halfTaps * maxRatio_)) + 1;
    maxPull_ =
        std::max<std::size_t>(static_cast<std::size_t>(maxRatio_ * static_cast<double>(maxFrames)), 64);
    capacity_ = 2 * history_ + maxPull_;
    left_.assign(capacity_, 0.0f);
    right_.assign(capacity_, 0.0f);
    reset();
}

void SincResampler::reset() noexcept {
    std::fill(left_.begin(), left_.begin() + static_cast<std::ptrdiff_t>(history_), 0.0f);
    std::fill(right_.begin(), right_.begin() + static_cast<std::ptrdiff_t>(history_), 0.0f);
    start_ = -static_cast<std::int64_t>(history_);
    end_ = 0;
    index_ = 0;
    fraction_ = 0;
    ratio_ = target_;
    step_ = 0.0;
    glideLeft_ = 0;
}

void SincResampler::setRatio(double ratio, std::size_t glideFrames) noexcept {
    ratio = std::clamp(ratio, 1.0 / 64.0, maxRatio_);
    target_ = ratio;
    if (glideFrames == 0) {
        ratio_ = ratio;
        glideLeft_ = 0;
        return;
    }
    step_ = (ratio - ratio_) / static_cast<double>(glideFrames);
    glideLeft_ = glideFrames;
}

double SincResampler::inputAhead() const noexcept {
    return static_cast<double>(end_ - index_) - fraction();
}

double SincResampler::fraction() const noexcept {
    return static_cast<double>(fraction_) / static_cast<double>(std::uint64_t{1} << fractionBits);
}

std::int64_t SincResampler::needEnd() const noexcept {
    if (ratio_ <= 1.0) {
        return index_ + static_cast<std::int64_t>(halfTaps) + 1;
    }
    return index_ + static_cast<std::int64_t>(std::ceil(halfTaps * ratio_)) + 1;
}

void SincResampler::advance() noexcept {
    fraction_ += increment(ratio_);
    index_ += static_cast<std::int64_t>(fraction_ >> fractionBits);
    fraction_ &= fractionMask;
    stepGlide();
}

void SincResampler::stepGlide() noexcept {
    if (glideLeft_ > 0) {
        --glideLeft_;
        ratio_ = glideLeft_ == 0 ? target_ : ratio_ + step_;
    }
}

void SincResampler::pullInput(std::size_t frames, AudioSource& upstream) noexcept {
    auto held = static_cast<std::size_t>(end_ - start_);
    if (held + frames > capacity_) {
        // Keep only what the kernel can still reach behind the position.
        const std::int64_t keepFrom = std::max(start_, index_ - static_cast<std::int64_t>(history_));
        const auto drop = static_cast<std::size_t>(keepFrom - start_);
        std::copy(left_.begin() + static_cast<std::ptrdiff_t>(drop),
                  left_.begin() + static_cast<std::ptrdiff_t>(held), left_.begin());
        std::copy(right_.begin() + static_cast<std::ptrdiff_t>(drop),
                  right_.begin() + static_cast<std::ptrdiff_t>(held), right_.begin());
        start_ = keepFrom;
        held -= drop;
    }
    const std::size_t n = std::min({frames, maxPull_, capacity_ - held});
    if (n == 0) {
        return;
    }
    upstream.pull(left_.data() + held, right_.data() + held, n);
    end_ += static_cast<std::int64_t>(n);
}

void SincResampler::renderWide(float* outLeft, float* outRight, double scale) const noexcept {
    // Reading faster than the input: the kernel is stretched by the ratio (its cut-off lowered by as
    // much), read from the table between its points.
    const auto half = static_cast<std::int64_t>(std::ceil(halfTaps * scale));
    const double step = static_cast<double>(phases) / scale;
    const double centre = static_cast<double>(halfTaps * phases);
    double sum = 0.0;
    double left = 0.0;
    double right = 0.0;
    for (std::int64_t m = index_ - half + 1; m <= index_ + half; ++m) {
        const double at = centre + (static_cast<double>(m - index_) - fraction()) * step;
        if (at <= 0.0 || at >= static_cast<double>(taps * phases)) {
            continue;
        }
        const auto i = static_cast<std::size_t>(at);
        const double a = at - static_cast<double>(i);
        const double c = table_[i] + a * (table_[i + 1] - table_[i]);
        const auto k = static_cast<std::size_t>(m - start_);
        sum += c;
        left += c * left_[k];
        right += c * right_[k];
    }
    *outLeft = static_cast<float>(left / sum);
    *outRight = static_cast<float>(right / sum);
}

std::size_t SincResampler::runSteady(float* left, float* right, std::size_t frames) noexcept {
    Run run{rows_.data(), deltas_.data(), left_.data(), right_.data(),    start_,
            end_,         index_,         fraction_,    increment(ratio_)};
    const std::size_t n = runner_(run, left, right, frames);
    index_ = run.index;
    fraction_ = run.fraction;
    return n;
}

void SincResampler::render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    std::size_t done = 0;
    while (done < frames) {
        if (glideLeft_ == 0 && ratio_ <= 1.0) {
            done += runSteady(left + done, right + done, frames - done);
        } else {
            // Gliding, or reading faster than the input: frame by frame.
            while (done < frames && needEnd() <= end_ && (glideLeft_ > 0 || ratio_ > 1.0)) {
                if (ratio_ <= 1.0) {
                    runSteady(left + done, right + done, 1);
                    stepGlide();
                } else {
                    renderWide(left + done, right + done, ratio_);
                    advance();
                }
                ++done;
            }
        }
        if (done == frames || needEnd() <= end_) {
            continue;
        }
        // Enough input for the rest of the request, at the faster of the current and the target ratio.
        const double remaining = static_cast<double>(frames - done);
        const double fastest = std::max(ratio_, target_);
        const auto last =
            static_cast<std::int64_t>(std::ceil(static_cast<double>(index_) + fraction() +
                                                remaining * fastest + halfTaps * std::max(1.0, fastest))) +
            2;
        pullInput(static_cast<std::size_t>(std::max<std::int64_t>(1, last - end_)), upstream);
    }
}

} // namespace somnara::dsp
