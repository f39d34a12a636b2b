#include "audio/dsp/Biquad.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace somnara::dsp {

BiquadCoefficients designBiquad(EQFilterType type, double frequency, double bandwidthOctaves, double gainDb,
                                double sampleRate) noexcept {
    const double f0 = std::clamp(frequency, 1.0, 0.495 * sampleRate);
    const double bw = std::clamp(bandwidthOctaves, 0.05, 5.0);
    const double gain = std::clamp(gainDb, -96.0, 24.0);
    const double w0 = 2.0 * std::numbers::pi * f0 / sampleRate;
    const double cosW = std::cos(w0);
    const double sinW = std::sin(w0);
    // Near Nyquist w0/sin(w0) explodes and a wide band would put the poles on the unit circle; no audible
    // band needs alpha above 1000, which keeps every pole strictly inside.
    const double alphaBandwidth =
        std::min(1000.0, sinW * std::sinh(std::numbers::ln2 / 2.0 * bw * w0 / sinW));
    const double alphaButterworth = sinW / std::numbers::sqrt2; // sin/(2Q) with Q = 1/√2
    const double a = std::pow(10.0, gain / 40.0);

    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a0 = 1.0, a1 = 0.0, a2 = 0.0;
    switch (type) {
    case EQFilterType::parametric:
        b0 = 1.0 + alphaBandwidth * a;
        b1 = -2.0 * cosW;
        b2 = 1.0 - alphaBandwidth * a;
        a0 = 1.0 + alphaBandwidth / a;
        a1 = -2.0 * cosW;
        a2 = 1.0 - alphaBandwidth / a;
        break;
    case EQFilterType::lowPass:
    case EQFilterType::resonantLowPass: {
        const double alpha = type == EQFilterType::lowPass ? alphaButterworth : alphaBandwidth;
        b0 = (1.0 - cosW) / 2.0;
        b1 = 1.0 - cosW;
        b2 = b0;
        a0 = 1.0 + alpha;
        a1 = -2.0 * cosW;
        a2 = 1.0 - alpha;
        break;
    }
    case EQFilterType::highPass:
    case EQFilterType::resonantHighPass: {
        const double alpha = type == EQFilterType::highPass ? alphaButterworth : alphaBandwidth;
        b0 = (1.0 + cosW) / 2.0;
        b1 = -(1.0 + cosW);
        b2 = b0;
        a0 = 1.0 + alpha;
        a1 = -2.0 * cosW;
        a2 = 1.0 - alpha;
        break;
    }
    case EQFilterType::bandPass: // 0 dB at the centre
        b0 = alphaBandwidth;
        b1 = 0.0;
        b2 = -alphaBandwidth;
        a0 = 1.0 + alphaBandwidth;
        a1 = -2.0 * cosW;
        a2 = 1.0 - alphaBandwidth;
        break;
    case EQFilterType::bandStop:
        b0 = 1.0;
        b1 = -2.0 * cosW;
        b2 = 1.0;
        a0 = 1.0 + alphaBandwidth;
        a1 = -2.0 * cosW;
        a2 = 1.0 - alphaBandwidth;
        break;
    case EQFilterType::lowShelf:
    case EQFilterType::resonantLowShelf: {
        // Slope 1 for the plain shelf: alpha = sin(w0)/2·√2.
        const double alpha = type == EQFilterType::lowShelf ? sinW / std::numbers::sqrt2 : alphaBandwidth;
        const double k = 2.0 * std::sqrt(a) * alpha;
        b0 = a * ((a + 1.0) - (a - 1.0) * cosW + k);
        b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * cosW);
        b2 = a * ((a + 1.0) - (a - 1.0) * cosW - k);
        a0 = (a + 1.0) + (a - 1.0) * cosW + k;
        a1 = -2.0 * ((a - 1.0) + (a + 1.0) * cosW);
        a2 = (a + 1.0) + (a - 1.0) * cosW - k;
        break;
    }
    case EQFilterType::highShelf:
    case EQFilterType::resonantHighShelf: {
        const double alpha = type == EQFilterType::highShelf ? sinW / std::numbers::sqrt2 : alphaBandwidth;
        const double k = 2.0 * std::sqrt(a) * alpha;
        b0 = a * ((a + 1.0) + (a - 1.0) * cosW + k);
        b1 = -2.0 * a * ((a - 1.0) + (a + 1.0) * cosW);
        b2 = a * ((a + 1.0) + (a - 1.0) * cosW - k);
        a0 = (a + 1.0) - (a - 1.0) * cosW + k;
        a1 = 2.0 * ((a - 1.0) - (a + 1.0) * cosW);
        a2 = (a + 1.0) - (a - 1.0) * cosW - k;
        break;
    }
    }
    return BiquadCoefficients{b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

double biquadMagnitude(const BiquadCoefficients& c, double frequency, double sampleRate) noexcept {
    const double w = 2.0 * std::numbers::pi * frequency / sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> num = c.b0 + c.b1 * z1 + c.b2 * z2;
    const std::complex<double> den = 1.0 + c.a1 * z1 + c.a2 * z2;
    return std::abs(num / den);
}

} // namespace somnara::dsp
