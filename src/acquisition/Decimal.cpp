#include "acquisition/Decimal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace tarvel {
namespace {

// A natural number of any size, 32 bits a word, the lowest first.
class BigNat {
  public:
    explicit BigNat(std::uint64_t value) {
        for (; value != 0; value >>= 32) words_.push_back(static_cast<std::uint32_t>(value));
    }
    bool zero() const { return words_.empty(); }
    int bits() const {
        return zero() ? 0
                      : static_cast<int>(32 * (words_.size() - 1) + std::bit_width(words_.back()));
    }
    void multiply(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (std::uint32_t& w : words_) {
            carry += std::uint64_t{w} * factor;
            w = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        if (carry != 0) words_.push_back(static_cast<std::uint32_t>(carry));
    }
    void multiplyByPowerOfTen(int n) {
        static constexpr std::uint32_t powers[] = {1,      10,      100,      1000,     10000,
                                                   100000, 1000000, 10000000, 100000000};
        for (; n >= 9; n -= 9) multiply(1000000000);
        multiply(powers[n]);
    }
    void shiftLeft(int n) {
        if (zero() || n == 0) return;
        const int bits = n % 32;
        if (bits != 0) {
            std::uint32_t carry = 0;
            for (std::uint32_t& w : words_) {
                const std::uint32_t next = w >> (32 - bits);
                w = w << bits | carry;
                carry = next;
            }
            if (carry != 0) words_.push_back(carry);
        }
        words_.insert(words_.begin(), static_cast<std::size_t>(n / 32), 0);
    }
    void shiftRightOne() {
        for (std::size_t i = 0; i < words_.size(); ++i)
            words_[i] = words_[i] >> 1 | (i + 1 < words_.size() ? words_[i + 1] << 31 : 0);
        trim();
    }
    int compare(const BigNat& other) const {
        if (words_.size() != other.words_.size())
            return words_.size() < other.words_.size() ? -1 : 1;
        for (std::size_t i = words_.size(); i-- > 0;)
            if (words_[i] != other.words_[i]) return words_[i] < other.words_[i] ? -1 : 1;
        return 0;
    }
    // Needs other <= *this.
    void subtract(const BigNat& other) {
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < words_.size(); ++i) {
            std::int64_t d = std::int64_t{words_[i]} - borrow -
                             (i < other.words_.size() ? std::int64_t{other.words_[i]} : 0);
            borrow = d < 0;
            words_[i] = static_cast<std::uint32_t>(d + (borrow << 32));
        }
        trim();
    }

  private:
    void trim() {
        while (!words_.empty() && words_.back() == 0) words_.pop_back();
    }
    std::vector<std::uint32_t> words_;
};

// The quotient a / b, below 2^(bits + 1) (bits at most 63); `a` keeps the
// remainder.
std::uint64_t Divide(BigNat& a, BigNat b, int bits) {
    b.shiftLeft(bits);
    std::uint64_t q = 0;
    for (int i = bits; i >= 0; --i) {
        if (a.compare(b) >= 0) {
            a.subtract(b);
            q |= std::uint64_t{1} << i;
        }
        b.shiftRightOne();
    }
    return q;
}

// digits * 10^exponent for the values beyond the exact operations of
// doubles: the quotient of two exact integers to 64 bits and whether
// anything is left, rounded once to the bits the double keeps.
double Slow(std::uint64_t digits, int exponent) {
    BigNat a(digits), b(1);
    if (exponent >= 0)
        a.multiplyByPowerOfTen(exponent);
    else
        b.multiplyByPowerOfTen(-exponent);
    const int t = 63 - (a.bits() - b.bits());  // the quotient from 2^62 to 2^64
    if (t > 0)
        a.shiftLeft(t);
    else
        b.shiftLeft(-t);
    const std::uint64_t q = Divide(a, b, 63);
    const bool sticky = !a.zero();
    const auto n = static_cast<int>(std::bit_width(q));
    // 53 bits, fewer below the normal range: the last kept bit at least 2^-1074.
    const int drop = std::max(n - 53, t - 1074);
    if (drop > n) return 0;
    std::uint64_t mantissa = drop >= 64 ? 0 : q >> drop;
    const std::uint64_t rest = drop >= 64 ? q : q & ((std::uint64_t{1} << drop) - 1);
    const std::uint64_t half = std::uint64_t{1} << (drop - 1);
    if (rest > half || (rest == half && (sticky || (mantissa & 1) != 0))) ++mantissa;
    return std::ldexp(static_cast<double>(mantissa), drop - t);
}

}  // namespace

double NearestDouble(const Decimal& decimal) {
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const std::uint64_t digits = decimal.digits;
    const int e = decimal.exponent;
    double value = 0;
    if (digits == 0 || e < -350)  // below half the least double
        value = 0;
    else if (e > 310)
        value = HUGE_VAL;
    else if (digits <= std::uint64_t{1} << 53 && e >= -22 && e <= 22)
        // Both operands exact: the one rounding is the operation's.
        value = e >= 0 ? static_cast<double>(digits) * powers[e]
                       : static_cast<double>(digits) / powers[-e];
    else
        value = Slow(digits, e);
    return decimal.negative ? -value : value;
}

Decimal RoundToDigits(double value, int significant) {
    Decimal d{std::signbit(value), 0, 0};
    if (value == 0) return d;
    int e2 = 0;
    const double fraction = std::frexp(std::fabs(value), &e2);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int e = e2 - 53;  // |value| = mantissa * 2^e exactly
    std::uint64_t lowest = 1;
    for (int i = 1; i < significant; ++i) lowest *= 10;
    int k = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    // The estimate of the decimal exponent k may be one off either way.
    for (;;) {
        const int scale = significant - 1 - k;
        BigNat a(mantissa), b(1);
        e >= 0 ? a.shiftLeft(e) : b.shiftLeft(-e);
        scale >= 0 ? a.multiplyByPowerOfTen(scale) : b.multiplyByPowerOfTen(-scale);
        std::uint64_t q = Divide(a, b, 62);
        if (q >= lowest * 10) {
            ++k;
            continue;
        }
        if (q < lowest) {
            --k;
            continue;
        }
        a.shiftLeft(1);
        const int c = a.compare(b);
        if (c > 0 || (c == 0 && (q & 1) != 0)) ++q;
        if (q == lowest * 10) {
            q = lowest;
            ++k;
        }
        d.digits = q;
        d.exponent = k - (significant - 1);
        return d;
    }
}

}  // namespace tarvel
