#pragma once

namespace somnara::dsp {

/// Gains of the equal-power pan of a stereo source (a mixer's stereo balance):
///
///   pan <= 0, x = pan + 1:  L' = L + R·cos(x·π/2),  R' = R·sin(x·π/2)
///   pan  > 0, x = pan:      L' = L·cos(x·π/2),      R' = R + L·sin(x·π/2)
///
/// At the centre both channels keep unity gain (nothing moves across); towards a side, the far channel is
/// faded out along a sine law and its power is folded into the near channel, so the total power of a
/// signal with uncorrelated channels stays constant. At ±1 everything plays on one side.
struct StereoPanGains {
    float leftFromLeft = 1.0f;
    float leftFromRight = 0.0f;
    float rightFromLeft = 0.0f;
    float rightFromRight = 1.0f;
};

namespace detail {

/// sin(x·π/2) for x in [0, 1], by a polynomial (error below 1e-6): the pan moves every sample while the
/// oscillator sweeps it, and a library sin/cos per sample and voice would dominate the mixer's cost.
inline float sinQuarterTurn(float x) noexcept {
    const float t = x * 1.57079632679f;
    const float t2 = t * t;
    return t * (1.0f +
                t2 * (-1.0f / 6.0f +
                      t2 * (1.0f / 120.0f +
                            t2 * (-1.0f / 5040.0f + t2 * (1.0f / 362880.0f + t2 * (-1.0f / 39916800.0f))))));
}

} // namespace detail

/// The gains for `pan` in [-1, 1] (clamped). Exactly the identity at 0.
inline StereoPanGains stereoPanGains(float pan) noexcept {
    StereoPanGains g;
    if (!(pan == pan) || pan == 0.0f) { // NaN or centre: identity
        return g;
    }
    pan = pan < -1.0f ? -1.0f : (pan > 1.0f ? 1.0f : pan);
    if (pan < 0.0f) {
        const float x = pan + 1.0f;
        g.leftFromRight = detail::sinQuarterTurn(1.0f - x); // cos(x·π/2)
        g.rightFromRight = detail::sinQuarterTurn(x);
    } else {
        const float x = pan;
        g.leftFromLeft = detail::sinQuarterTurn(1.0f - x);
        g.rightFromLeft = detail::sinQuarterTurn(x);
    }
    return g;
}

/// Applies the gains to one frame.
inline void applyStereoPan(const StereoPanGains& g, float& left, float& right) noexcept {
    const float l = left;
    const float r = right;
    left = g.leftFromLeft * l + g.leftFromRight * r;
    right = g.rightFromLeft * l + g.rightFromRight * r;
}

} // namespace somnara::dsp
