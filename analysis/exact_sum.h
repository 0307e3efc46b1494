// SPDX-License-Identifier: Apache-2.0
// Exact sums of doubles and a counter-based random stream: what lets a
// reduction over many rays give the same bits however the rays are split.
#ifndef LUMIVEX_ANALYSIS_EXACT_SUM_H
#define LUMIVEX_ANALYSIS_EXACT_SUM_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace lumivex {
namespace detail {

// A sum of doubles held exactly as one long fixed-point integer (a "long
// accumulator"): 72 signed digits of base 2^32, digit k worth 2^(32k − 1152),
// which covers every double from the smallest subnormal up, with 128 bits
// to spare for the carries of 2^64 terms. A term touches three digits; the
// digits are brought back to [0, 2^32) (the top one keeps the sign) before
// they could overflow, and that form is unique, so equal sums are equal
// digits however they were reached.
class ExactSum {
public:
    static constexpr int kDigits = 72;
    static constexpr int kBias = 1152;

    void add(double x) {
        if (x == 0.0) return;
        if (!std::isfinite(x)) {
            nonFinite = 1;
            return;
        }
        // x = m·2^(e − 1075) from its bits: the 52 stored bits with the
        // hidden one of a normal number; a subnormal has e = 1 and no hidden bit.
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const int biased = static_cast<int>((bits >> 52) & 0x7ff);
        const std::uint64_t fraction = bits & ((std::uint64_t(1) << 52) - 1);
        const std::uint64_t magnitude = biased == 0 ? fraction : fraction | (std::uint64_t(1) << 52);
        const int offset = (biased == 0 ? 1 : biased) - 1075 + kBias;  // the bit of m's unit
        const int k = offset / 32;
        const int shift = offset % 32;
        // m·2^shift spans at most 85 bits: three digits.
        const std::uint64_t low = (magnitude << shift) & 0xffffffffu;
        const std::uint64_t mid = (shift == 0 ? magnitude >> 32 : (magnitude >> (32 - shift))) & 0xffffffffu;
        const std::uint64_t high = shift == 0 ? 0 : magnitude >> (64 - shift);
        const std::int64_t sign = (bits >> 63) != 0 ? -1 : 1;
        digit[k] += sign * static_cast<std::int64_t>(low);
        digit[k + 1] += sign * static_cast<std::int64_t>(mid);
        digit[k + 2] += sign * static_cast<std::int64_t>(high);
        if (++pending == kCarryPeriod) normalize();
    }

    void merge(const ExactSum& other) {
        ExactSum o = other;
        o.normalize();
        normalize();
        for (int k = 0; k < kDigits; ++k) digit[k] += o.digit[k];
        nonFinite |= o.nonFinite;
        normalize();
    }

    // The sum rounded to a double (to within an ulp; the same digits always
    // give the same double). NaN when a term was not finite.
    double value() const {
        if (nonFinite) return std::numeric_limits<double>::quiet_NaN();
        ExactSum s = *this;
        s.normalize();
        // A negative sum is its digits below a top digit of −1 (as two's
        // complement is): read its magnitude, of digits that are all ≥ 0.
        const bool negative = s.digit[kDigits - 1] < 0;
        if (negative) {
            for (std::int64_t& d : s.digit) d = -d;
            s.normalize();
        }
        double v = 0.0;
        for (int k = kDigits - 1; k >= 0; --k)
            if (s.digit[k] != 0) v += std::ldexp(static_cast<double>(s.digit[k]), 32 * k - kBias);
        return negative ? -v : v;
    }

    // The normalized digits and the non-finite flag, kDigits + 1 words.
    template <class Out>
    void save(Out out) const {
        ExactSum s = *this;
        s.normalize();
        for (int k = 0; k < kDigits; ++k) *out++ = s.digit[k];
        *out++ = s.nonFinite;
    }
    template <class In>
    void load(In in) {
        for (int k = 0; k < kDigits; ++k) digit[k] = *in++;
        nonFinite = *in++ != 0;
        pending = kCarryPeriod / 2;  // digits from elsewhere: carry soon
    }

private:
    static constexpr std::int64_t kCarryPeriod = std::int64_t(1) << 29;

    void normalize() {
        for (int k = 0; k + 1 < kDigits; ++k) {
            const std::int64_t carry = digit[k] >> 32;  // floor division by 2^32
            digit[k] -= carry * (std::int64_t(1) << 32);
            digit[k + 1] += carry;
        }
        pending = 0;
    }

    std::int64_t digit[kDigits] = {};
    std::int64_t nonFinite = 0;
    std::int64_t pending = 0;
};

// Philox4x32-10 (Salmon et al., "Parallel random numbers: as easy as 1, 2,
// 3", 2011): ten rounds of multiply-xor over a 128-bit counter under a
// 64-bit key, a bijection of the counter for every key.
inline void philox4x32(std::uint32_t c[4], std::uint32_t k0, std::uint32_t k1) {
    for (int round = 0; round < 10; ++round) {
        const std::uint64_t p0 = std::uint64_t(0xD2511F53u) * c[0];
        const std::uint64_t p1 = std::uint64_t(0xCD9E8D57u) * c[2];
        const std::uint32_t hi0 = static_cast<std::uint32_t>(p0 >> 32), lo0 = static_cast<std::uint32_t>(p0);
        const std::uint32_t hi1 = static_cast<std::uint32_t>(p1 >> 32), lo1 = static_cast<std::uint32_t>(p1);
        c[0] = hi1 ^ c[1] ^ k0;
        c[1] = lo1;
        c[2] = hi0 ^ c[3] ^ k1;
        c[3] = lo0;
        k0 += 0x9E3779B9u;
        k1 += 0xBB67AE85u;
    }
}

// Two uniform numbers in [0, 1), 53 bits each, for draw `draw` of counter
// `index` of the stream `seed`.
inline void philoxUniforms(std::uint64_t seed, std::uint64_t index, std::uint32_t draw, double& u1,
                           double& u2) {
    std::uint32_t c[4] = {static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(index >> 32),
                          draw, 0u};
    philox4x32(c, static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32));
    const std::uint64_t a = (std::uint64_t(c[0]) << 32) | c[1];
    const std::uint64_t b = (std::uint64_t(c[2]) << 32) | c[3];
    u1 = static_cast<double>(a >> 11) * 0x1.0p-53;
    u2 = static_cast<double>(b >> 11) * 0x1.0p-53;
}

}  // namespace detail
}  // namespace lumivex

#endif
