// The single-precision functions over every float the scan model can give
// them, each against an independent reference: the x87's 64-bit long double
// on Linux. Where long double is not that (or its library not glibc's, as on
// Windows) only the digest of all results is compared, with the one pinned
// here from a checked Linux run: same bits, so also nearest.
//
// DVK_MATH_STRIDE=k checks every k-th input only: the Windows stage, where
// the whole range took over two minutes under Wine, takes every 7th. The
// digests are pinned for k = 1 and k = kWineStride.
#include "patterns/ScanTiming.h"
#include "patterns/SingleMath.h"

#include <QtTest>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace
{

#if !defined(_WIN32) && LDBL_MANT_DIG >= 64
constexpr bool kReference = true;
#else
constexpr bool kReference = false;
#endif

constexpr std::uint32_t kWineStride = 7;

float floatOf(std::uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::uint32_t bitsOf(float f)
{
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

std::uint32_t stride()
{
    const QByteArray k = qgetenv("DVK_MATH_STRIDE");
    return k.isEmpty() ? 1u : std::max(1u, k.toUInt());
}

struct Scan {
    std::uint64_t digest = 0;
    std::uint64_t wineDigest = 0; // of every kWineStride-th input
    std::uint64_t inputs = 0;
    std::uint64_t wrong = 0;     // not the float nearest the reference
    std::uint64_t undecided = 0; // reference too near a midpoint to say
    float firstWrong = 0.0f;
};

// Runs f over the floats with bit patterns lo..hi (every step-th) on all
// cores. The digest adds a mix of each input and result, so it does not
// depend on how the range is split.
template <typename F, typename R>
Scan scan(std::uint32_t lo, std::uint32_t hi, std::uint32_t step, F f, R reference)
{
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<Scan> parts(threads);
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            Scan &s = parts[t];
            for (std::uint64_t i = t, b = lo + i * step; b <= hi; i += threads, b = lo + i * step) {
                const float x = floatOf(std::uint32_t(b));
                const float y = f(x);
                std::uint64_t h = (b << 32 | bitsOf(y)) * 0x9E3779B97F4A7C15ull;
                h ^= h >> 29;
                s.digest += h;
                if (i % kWineStride == 0)
                    s.wineDigest += h;
                ++s.inputs;
                if (!kReference || !std::isfinite(x))
                    continue;
                const long double v = reference(x);
                const long double slack = std::fabs(v) * 0x1p-60L;
                const float below = float(v - slack), above = float(v + slack);
                if (below != above) {
                    ++s.undecided;
                } else if (bitsOf(below) != bitsOf(y) && !s.wrong++) {
                    s.firstWrong = x;
                }
            }
        });
    for (std::thread &t : pool)
        t.join();
    Scan all;
    for (const Scan &s : parts) {
        all.digest += s.digest;
        all.wineDigest += s.wineDigest;
        all.inputs += s.inputs;
        if (s.wrong && !all.wrong)
            all.firstWrong = s.firstWrong;
        all.wrong += s.wrong;
        all.undecided += s.undecided;
    }
    return all;
}

void check(const Scan &s, std::uint64_t digestAll, std::uint64_t digestWine)
{
    qInfo("%llu inputs, digest %016llx, every %u-th %016llx", qulonglong(s.inputs),
          qulonglong(s.digest), unsigned(kWineStride), qulonglong(s.wineDigest));
    QVERIFY2(s.wrong == 0, qPrintable(QString::asprintf("%llu wrong, first at %a",
                                                        qulonglong(s.wrong), s.firstWrong)));
    QCOMPARE(s.undecided, std::uint64_t(0));
    const std::uint32_t k = stride();
    if (k == 1) {
        QCOMPARE(s.digest, digestAll);
        QCOMPARE(s.wineDigest, digestWine);
    } else if (k == kWineStride)
        QCOMPARE(s.digest, digestWine);
    else
        QVERIFY2(kReference, "no pinned digest for this stride and no reference here");
}

} // namespace

class TestSingleMath : public QObject
{
    Q_OBJECT

private slots:
    // The deflection's arctangent: 0 up to the tangent of the half angle
    // (scanned to 0.5).
    void atanOverModelRange()
    {
        check(scan(0, bitsOf(0.5f), stride(), singleAtan,
                   [](float x) { return std::atan(static_cast<long double>(x)); }),
              0x41eb26f7ef2f4057, 0x5f8b5263c34ef487);
    }

    // The sine of the mirror phase: 0 up to 1.
    void asinOverModelRange()
    {
        check(scan(0, bitsOf(1.0f), stride(), singleAsin,
                   [](float x) { return std::asin(static_cast<long double>(x)); }),
              0x7738eee5be3d445f, 0x80bf6e9233533d4a);
    }

    // The model's one tangent, and every 4099th float of either sign, which
    // takes in the reduction of large arguments by multiples of pi/2.
    void tanAtModelInputAndAcross()
    {
        const float halfAngle = computeScanTiming(8000.0f).halfAngle;
        QCOMPARE(singleTan(halfAngle), float(std::tan(static_cast<long double>(halfAngle))));
        check(scan(0, 0xFF7FFFFFu, 4099 * stride(), singleTan,
                   [](float x) { return std::tan(static_cast<long double>(x)); }),
              0x6a7f1ac3cdff9a87, 0x4ff976413dfa3ff7);
    }
};

int main(int argc, char **argv)
{
    // One function scans a thousand million inputs: more than QtTest's
    // five minutes on a busy machine; ctest's own limit still holds.
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "3600000");
    QCoreApplication app(argc, argv);
    TestSingleMath test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_long_singlemath.moc"
