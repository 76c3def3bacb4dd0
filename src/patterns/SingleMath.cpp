// The algorithms and coefficients are fdlibm's single-precision atan and asin
// (the asin with the polynomial of glibc's version): Copyright (C) 1993 by Sun
// Microsystems, Inc. Permission to use, copy, modify, and distribute this
// software is freely granted, provided that this notice is preserved.
// Checked against glibc on every single-precision input in [0, 1.5] (atan)
// and [0, 1] (asin).
#include "SingleMath.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace
{

std::int32_t wordOf(float f)
{
    std::int32_t w;
    std::memcpy(&w, &f, sizeof w);
    return w;
}

float floatOf(std::int32_t w)
{
    float f;
    std::memcpy(&f, &w, sizeof f);
    return f;
}

} // namespace

float singleAtan(float x)
{
    // atan of the reduction points 0.5, 1, 1.5 and infinity, split in two.
    static const float hi[] = {4.6364760399e-01f, 7.8539812565e-01f, 9.8279368877e-01f,
                               1.5707962513e+00f};
    static const float lo[] = {5.0121582440e-09f, 3.7748947079e-08f, 3.4473217170e-08f,
                               7.5497894159e-08f};
    static const float aT[] = {3.3333334327e-01f,  -2.0000000298e-01f, 1.4285714924e-01f,
                               -1.1111110449e-01f, 9.0908870101e-02f,  -7.6918758452e-02f,
                               6.6610731184e-02f,  -5.8335702866e-02f, 4.9768779427e-02f,
                               -3.6531571299e-02f, 1.6285819933e-02f};
    const std::int32_t hx = wordOf(x);
    const std::int32_t ix = hx & 0x7fffffff;
    int id;
    if (ix >= 0x4c800000) { // |x| >= 2^26, or not a number
        if (ix > 0x7f800000)
            return x + x;
        return hx > 0 ? hi[3] + lo[3] : -hi[3] - lo[3];
    }
    if (ix < 0x3ee00000) { // |x| < 0.4375
        if (ix < 0x31000000)
            return x;
        id = -1;
    } else {
        x = std::fabs(x);
        if (ix < 0x3f980000) {     // |x| < 1.1875
            if (ix < 0x3f300000) { // 7/16 <= |x| < 11/16
                id = 0;
                x = (2.0f * x - 1.0f) / (2.0f + x);
            } else {
                id = 1;
                x = (x - 1.0f) / (x + 1.0f);
            }
        } else if (ix < 0x401c0000) { // |x| < 2.4375
            id = 2;
            x = (x - 1.5f) / (1.0f + 1.5f * x);
        } else {
            id = 3;
            x = -1.0f / x;
        }
    }
    float z = x * x;
    const float w = z * z;
    const float s1 =
        z * (aT[0] + w * (aT[2] + w * (aT[4] + w * (aT[6] + w * (aT[8] + w * aT[10])))));
    const float s2 = w * (aT[1] + w * (aT[3] + w * (aT[5] + w * (aT[7] + w * aT[9]))));
    if (id < 0)
        return x - x * (s1 + s2);
    z = hi[id] - ((x * (s1 + s2) - lo[id]) - x);
    return hx < 0 ? -z : z;
}

float singleAsin(float x)
{
    const float pio2Hi = 1.57079637050628662109375f;
    const float pio2Lo = -4.37113900018624283e-8f;
    const float pio4Hi = 0.785398185253143310546875f;
    // asin x = x + x^3 p(x^2) on [-0.5, 0.5]
    const float p0 = 1.666675248e-1f, p1 = 7.495297643e-2f, p2 = 4.547037598e-2f,
                p3 = 2.417951451e-2f, p4 = 4.216630880e-2f;
    auto p = [&](float t) { return t * (p0 + t * (p1 + t * (p2 + t * (p3 + t * p4)))); };
    const std::int32_t hx = wordOf(x);
    const std::int32_t ix = hx & 0x7fffffff;
    if (ix == 0x3f800000)
        return x * pio2Hi + x * pio2Lo;
    if (ix > 0x3f800000)
        return (x - x) / (x - x);
    if (ix < 0x3f000000) { // |x| < 0.5
        if (ix < 0x32000000)
            return x;
        return x + x * p(x * x);
    }
    const float t = (1.0f - std::fabs(x)) * 0.5f;
    const float r = p(t);
    const float s = std::sqrt(t);
    float result;
    if (ix >= 0x3f79999a) { // |x| > 0.975
        result = pio2Hi - (2.0f * (s + s * r) - pio2Lo);
    } else {
        // s split so that its square is exact.
        const float w = floatOf(wordOf(s) & 0xfffff000);
        const float c = (t - w * w) / (s + w);
        const float q = 2.0f * s * r - (pio2Lo - 2.0f * c);
        result = pio4Hi - (q - (pio4Hi - 2.0f * w));
    }
    return hx > 0 ? result : -result;
}
