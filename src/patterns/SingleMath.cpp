#include "SingleMath.h"

#include <cmath>
#include <cstdint>
#include <limits>

// The platform's double function gives the answer almost always: it is
// within a few units in the last place of double, 29 bits finer than float,
// so rounding it once to float is right unless the exact value lies very
// near the midpoint between two floats. Only there (some 4 000 of the 2 000
// million inputs the scan model can give) the value is worked out again to
// about 100 bits with our own series. The slack allowed the double functions
// is far wider than any C library's error, so which one the platform has
// cannot change a result.
//
// The exact sums and products below need every operation rounded on its
// own: the tree is built without floating-point contraction (CMakeLists.txt).

namespace
{

// An unevaluated sum hi + lo, |lo| at most half a unit of hi: about 106 bits.
struct Wide {
    double hi;
    double lo;
};

Wide exactSum(double a, double b)
{
    const double s = a + b;
    const double bPart = s - a;
    return {s, (a - (s - bPart)) + (b - bPart)};
}

// Exact only when |a| >= |b| or a is zero.
Wide orderedSum(double a, double b)
{
    const double s = a + b;
    return {s, b - (s - a)};
}

// Splits a into two halves of 26 bits whose products are exact in double.
void halves(double a, double &high, double &low)
{
    const double t = a * 134217729.0; // 2^27 + 1
    high = t - (t - a);
    low = a - high;
}

Wide exactProduct(double a, double b)
{
    const double p = a * b;
    double ah, al, bh, bl;
    halves(a, ah, al);
    halves(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

Wide wide(double a)
{
    return {a, 0.0};
}

Wide operator+(Wide a, Wide b)
{
    Wide s = exactSum(a.hi, b.hi);
    const Wide t = exactSum(a.lo, b.lo);
    s = orderedSum(s.hi, s.lo + t.hi);
    return orderedSum(s.hi, s.lo + t.lo);
}

Wide operator-(Wide a)
{
    return {-a.hi, -a.lo};
}

Wide operator-(Wide a, Wide b)
{
    return a + -b;
}

Wide operator*(Wide a, Wide b)
{
    const Wide p = exactProduct(a.hi, b.hi);
    return orderedSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Wide operator/(Wide a, Wide b)
{
    // Long division, one double's worth of quotient per step.
    const double q1 = a.hi / b.hi;
    Wide r = a - b * wide(q1);
    const double q2 = r.hi / b.hi;
    r = r - b * wide(q2);
    const double q3 = r.hi / b.hi;
    return orderedSum(q1, q2) + wide(q3);
}

Wide wideSqrt(Wide a)
{
    if (a.hi <= 0.0)
        return wide(0.0);
    const double q = std::sqrt(a.hi);
    const Wide rest = a - exactProduct(q, q);
    return orderedSum(q, rest.hi / (2.0 * q));
}

// pi / 2 to 106 bits.
const Wide kHalfPi = {0x1.921fb54442d18p0, 0x1.1a62633145c07p-54};
const double kQuarterPi = 0x1.921fb54442d18p-1; // just below pi / 4

// arctan x for x >= 0.
Wide wideAtan(Wide x)
{
    if (x.hi > 1.0)
        return kHalfPi - wideAtan(wide(1.0) / x);
    // Three halvings, arctan x = 2 arctan(x / (1 + sqrt(1 + x^2))), bring x
    // below tan(pi / 32) < 0.1, where the terms of the series fall by a
    // hundred each: 17 of them reach 2^-110.
    for (int i = 0; i < 3; ++i)
        x = x / (wide(1.0) + wideSqrt(wide(1.0) + x * x));
    const Wide x2 = x * x;
    Wide sum = wide(0.0);
    for (int k = 16; k >= 0; --k)
        sum = wide(1.0) / wide(double(2 * k + 1)) - x2 * sum;
    const Wide a = x * sum;
    return {8.0 * a.hi, 8.0 * a.lo};
}

// sin r and cos r for |r| <= pi / 4, nested so that no factorial is formed.
void wideSinCos(Wide r, Wide &s, Wide &c)
{
    const Wide r2 = r * r;
    Wide sn = wide(1.0);
    Wide cs = wide(1.0);
    for (int k = 16; k >= 1; --k) {
        sn = wide(1.0) - sn * r2 / wide(double((2 * k) * (2 * k + 1)));
        cs = wide(1.0) - cs * r2 / wide(double((2 * k - 1) * (2 * k)));
    }
    s = r * sn;
    c = cs;
}

// The binary digits of 2 / pi after the point, 32 to a word: enough for
// the largest float.
const std::uint32_t kTwoOverPi[9] = {0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0, 0xDB629599,
                                     0x3C439041, 0xFE5163AB, 0xDEBBC561, 0xB7246E3A};

// Writes ax as q pi/2 + r with |r| <= pi/4 and returns q mod 4, for finite
// ax > pi/4. ax 2/pi is formed as an integer product with the digits of
// 2/pi that matter: those that would only add whole multiples of 4 are
// skipped, and six words below them leave the fraction exact to far more
// than the 106 bits kept, however near ax lies to a multiple of pi/2.
int reduceQuarterTurns(float ax, Wide &r)
{
    int e;
    const double m = std::frexp(double(ax), &e);
    const std::uint64_t mant = std::uint64_t(std::ldexp(m, 24)); // ax = mant 2^scale
    const int scale = e - 24;
    const int first = scale >= 34 ? (scale - 34) / 32 + 1 : 0;
    std::uint32_t p[7] = {}; // the product, least significant word first
    std::uint64_t carry = 0;
    for (int i = 0; i < 6; ++i) {
        const std::uint64_t t = mant * kTwoOverPi[first + 5 - i] + carry;
        p[i] = std::uint32_t(t);
        carry = t >> 32;
    }
    p[6] = std::uint32_t(carry);
    // Bit `point` of the product weighs 1 in ax 2/pi.
    const int point = 32 * (first + 6) - scale;
    const auto bits = [&p](int low, int count) {
        std::uint64_t v = 0;
        for (int b = low + count - 1; b >= low; --b)
            v = (v << 1) | ((p[b / 32] >> (b % 32)) & 1u);
        return v;
    };
    int q = int(bits(point, 2));
    Wide f = orderedSum(std::ldexp(double(bits(point - 53, 53)), -53),
                        std::ldexp(double(bits(point - 106, 53)), -106));
    if (f.hi >= 0.5) {
        f = f - wide(1.0);
        q = (q + 1) & 3;
    }
    r = f * kHalfPi;
    return q;
}

Wide wideTan(float ax)
{
    Wide r = wide(double(ax));
    int q = 0;
    if (double(ax) > kQuarterPi)
        q = reduceQuarterTurns(ax, r);
    Wide s, c;
    wideSinCos(r, s, c);
    return (q & 1) ? -(c / s) : s / c;
}

// The float nearest v. v.hi is the double nearest v, and every midpoint
// between floats is a double, so rounding v.hi is right unless v.hi is such
// a midpoint; then v.lo says on which side v lies.
float nearestFloat(Wide v)
{
    const float f = float(v.hi);
    if (v.lo == 0.0 || double(f) == v.hi)
        return f;
    const float other =
        std::nextafter(f, v.hi > double(f) ? std::numeric_limits<float>::infinity()
                                           : -std::numeric_limits<float>::infinity());
    if (v.hi - double(f) != (double(other) - double(f)) * 0.5)
        return f;
    return (v.lo > 0.0) == (other > f) ? other : f;
}

// Stores in `out` the float that every value within 2^-40 of d (relative)
// rounds to, if there is one.
bool roundsUnambiguously(double d, float &out)
{
    const double slack = std::fabs(d) * 0x1p-40;
    const float below = float(d - slack);
    const float above = float(d + slack);
    if (below != above)
        return false;
    out = below;
    return true;
}

} // namespace

float singleAtan(float x)
{
    if (std::isnan(x))
        return x;
    float result;
    if (roundsUnambiguously(std::atan(double(x)), result))
        return result;
    const Wide a = wideAtan(wide(std::fabs(double(x))));
    return nearestFloat(x < 0.0f ? -a : a);
}

float singleAsin(float x)
{
    if (!(std::fabs(x) <= 1.0f))
        return std::numeric_limits<float>::quiet_NaN();
    float result;
    if (roundsUnambiguously(std::asin(double(x)), result))
        return result;
    // arcsin x = arctan(x / sqrt(1 - x^2)); x^2 of a float is exact in
    // double, and so is 1 - x^2 as a Wide.
    const double ax = std::fabs(double(x));
    const Wide c = wideSqrt(exactSum(1.0, -ax * ax));
    const Wide a = c.hi == 0.0 ? kHalfPi : wideAtan(wide(ax) / c);
    return nearestFloat(x < 0.0f ? -a : a);
}

float singleTan(float x)
{
    if (!std::isfinite(x))
        return std::numeric_limits<float>::quiet_NaN();
    float result;
    if (double(std::fabs(x)) <= kQuarterPi && roundsUnambiguously(std::tan(double(x)), result))
        return result;
    const Wide t = wideTan(std::fabs(x));
    return nearestFloat(x < 0.0f ? -t : t);
}
