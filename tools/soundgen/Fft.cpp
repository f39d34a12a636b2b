#include "Fft.hpp"

#include <numbers>
#include <stdexcept>

namespace somnara::soundgen {

Fft::Fft(std::size_t size) : size_(size), twiddles_(size), scratch_(size) {
    if (size == 0) {
        throw std::invalid_argument("Fft: size must be positive");
    }
    std::size_t rest = size;
    // Radix 4 first: fewer passes than two radix-2 passes for the same work.
    while (rest % 4 == 0) {
        factors_.push_back(4);
        rest /= 4;
    }
    for (std::size_t p = 2; rest > 1;) {
        if (rest % p == 0) {
            factors_.push_back(p);
            rest /= p;
        } else {
            ++p;
            if (p > 97) {
                throw std::invalid_argument("Fft: size has a prime factor above 97");
            }
        }
    }
    for (std::size_t k = 0; k < size; ++k) {
        const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size);
        twiddles_[k] = {std::cos(angle), std::sin(angle)};
    }
}

// Decimation in time: the n-point transform of in[0], in[stride], ... is built from `p` transforms
// of n/p points, each of every p-th input, then combined with the twiddles of this stage.
void Fft::transform(const std::complex<double>* in, std::complex<double>* out, std::size_t n,
                    std::size_t stride, std::size_t factor) const {
    if (n == 1) {
        out[0] = in[0];
        return;
    }
    const std::size_t p = factors_[factor];
    const std::size_t m = n / p;
    for (std::size_t r = 0; r < p; ++r) {
        transform(in + r * stride, out + r * m, m, stride * p, factor + 1);
    }
    const std::size_t step = size_ / n; // W_n^j == W_N^(j * step)
    std::complex<double> terms[97];
    std::complex<double> sums[97];
    for (std::size_t k = 0; k < m; ++k) {
        for (std::size_t r = 0; r < p; ++r) {
            terms[r] = out[r * m + k] * twiddles_[(r * k * step) % size_];
        }
        for (std::size_t q = 0; q < p; ++q) {
            std::complex<double> sum = terms[0];
            // W_p^(r q) == W_N^(r q N / p)
            const std::size_t base = (q * (size_ / p)) % size_;
            std::size_t index = 0;
            for (std::size_t r = 1; r < p; ++r) {
                index += base;
                if (index >= size_) {
                    index -= size_;
                }
                sum += terms[r] * twiddles_[index];
            }
            sums[q] = sum;
        }
        for (std::size_t q = 0; q < p; ++q) {
            out[q * m + k] = sums[q];
        }
    }
}

void Fft::forward(std::vector<std::complex<double>>& data) const {
    if (data.size() != size_) {
        throw std::invalid_argument("Fft: wrong data size");
    }
    transform(data.data(), scratch_.data(), size_, 1, 0);
    data.swap(scratch_);
}

void Fft::inverse(std::vector<std::complex<double>>& data) const {
    for (auto& value : data) {
        value = std::conj(value);
    }
    forward(data);
    const double scale = 1.0 / static_cast<double>(size_);
    for (auto& value : data) {
        value = std::conj(value) * scale;
    }
}

} // namespace somnara::soundgen
