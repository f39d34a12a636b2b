#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define SOMNARA_DSP_HAS_MXCSR 1
#endif

namespace somnara::dsp {

/// Flushes denormal floats to zero for the scope of one process call and restores the caller's mode
/// afterwards. Feedback tails (delay, reverb, filters) decay into the denormal range, where x86 arithmetic
/// is up to a hundred times slower; flushing them costs nothing audible.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() noexcept {
#ifdef SOMNARA_DSP_HAS_MXCSR
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | 0x8040u); // flush-to-zero and denormals-are-zero
#endif
    }
    ~ScopedFlushDenormals() {
#ifdef SOMNARA_DSP_HAS_MXCSR
        _mm_setcsr(saved_);
#endif
    }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
#ifdef SOMNARA_DSP_HAS_MXCSR
    unsigned int saved_ = 0;
#endif
};

} // namespace somnara::dsp
