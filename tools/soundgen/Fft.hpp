#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace somnara::soundgen {

/// A complex discrete Fourier transform of any length whose prime factors are small (the loop lengths
/// here: 30 s at 44.1 or 48 kHz have factors 2, 3, 5 and 7). Mixed-radix Cooley-Tukey in double
/// precision; prepared once per length, then usable for any number of transforms.
class Fft {
public:
    explicit Fft(std::size_t size);

    std::size_t size() const noexcept { return size_; }
    /// X[k] = sum x[n] e^{-2 pi i k n / N}, in place.
    void forward(std::vector<std::complex<double>>& data) const;
    /// The inverse, scaled by 1/N so that inverse(forward(x)) == x.
    void inverse(std::vector<std::complex<double>>& data) const;

private:
    void transform(const std::complex<double>* in, std::complex<double>* out, std::size_t n,
                   std::size_t stride, std::size_t factor) const;

    std::size_t size_;
    std::vector<std::size_t> factors_;
    std::vector<std::complex<double>> twiddles_;
    mutable std::vector<std::complex<double>> scratch_;
};

} // namespace somnara::soundgen
