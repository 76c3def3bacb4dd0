#ifndef DVK_CAPTUREDECODER_H
#define DVK_CAPTUREDECODER_H

// Decoding camera captures of projected pattern sets. A camera takes one
// image per page while the projector shows the pages of a pattern file; the
// decoder turns the images into the projected position u that each camera
// pixel sees, in the generators' own coordinate: u = x / X, -1 at the
// window's negative edge and +1 at its positive edge.
//
// The Gray code gives the stripe, the phase shift (or the square wave's
// four-step phase) the position within a period, unwrapped with the stripe;
// with the Gray code alone the blurred stripe edges place a pixel within its
// stripe.
// Positions follow the projector's real layout: sample i of a page is played
// over its whole cell (sampleCellEdges), so stripes end on cell edges and a
// phase sample lights its cell with the value computed at the cell's start.

#include "PatternSetRequest.h"
#include "patterns/ScanTiming.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

enum class CaptureSetKind { Gray, Phase, Square, Dark, Light };

// A set of captured pages: gray:M@P, phase:NxS@P, square:S@P (the grammar of
// analyze), or one of the references dark@P and light@P.
struct CaptureSetRequest {
    CaptureSetKind kind = CaptureSetKind::Gray;
    PatternSetRequest pattern; // gray, phase and square
    int page = 1;

    int patternCount() const;
    QString text() const;
    QString kindName() const; // "gray", "phase", "square", "dark", "light"
    bool isReference() const
    {
        return kind == CaptureSetKind::Dark || kind == CaptureSetKind::Light;
    }
};

bool parseCaptureSetRequest(const QString &text, CaptureSetRequest *request, QString *error);

// Which captures the sets read and how they combine. Capture c shows page
// pages[c]: the pages the sets use, in increasing order.
struct CapturePlan {
    std::vector<CaptureSetRequest> sets;
    std::vector<int> pages;
    // Index into sets of each role; -1 when absent.
    int gray = -1;
    int phase = -1;
    int square = -1;
    int dark = -1;
    int light = -1;
    // The set that places a pixel within a stripe (phase, else square), -1
    // when the Gray code alone gives positions.
    int fine = -1;

    int captureOfPage(int page) const; // -1 when no capture shows it
    int lastPage() const { return pages.empty() ? 0 : pages.back(); }
};

// Checks that the sets can be decoded together: no page in two sets, at most
// one set of each kind, something to take positions from, and a fine set
// with more than one period numbered by a Gray code with at least two
// stripes per period. On failure says why in *error.
bool planCaptureDecode(const std::vector<CaptureSetRequest> &sets, CapturePlan *plan,
                       QString *error);

// A capture value at or above this share of full scale is saturated.
constexpr float kSaturatedLevel = 254.5f / 255.0f;

struct DecodedPositions {
    int width = 0;
    int height = 0;
    std::vector<float> position;   // u per pixel; NaN where not valid
    std::vector<float> modulation; // amplitude of the fringes, share of full scale
    std::vector<quint8> valid;     // 1 where valid
    // Valid pixels per set of the plan: where that set decodes on its own
    // (enough modulation, nothing saturated).
    std::vector<qint64> setValid;
    qint64 validCount = 0;
    qint64 saturatedCount = 0;
    // Pixels whose Gray stripe and phase disagree by more than a quarter
    // period (among those with enough modulation).
    qint64 disagreeCount = 0;
    float modulationThreshold = 0.0f;
    float noise = 0.0f; // the camera's, as estimated from the captures
    // Steps in u smaller than this say nothing about order: 0 with a fine
    // set; with the Gray code alone a stripe, within which a pixel is placed
    // from its edge bits, mostly noise inside a stripe wide in the camera.
    float resolution = 0.0f;

    qint64 pixelCount() const { return qint64(width) * height; }
    double validFraction() const
    {
        return pixelCount() > 0 ? double(validCount) / double(pixelCount()) : 0.0;
    }
};

// What a pixel must reach to be valid, set from a sample of rows spread
// over the whole view: the fringes' modulation, and with the Gray code
// alone each bit's distance from its threshold against the camera's noise,
// which grows with brightness (shot noise): sigma^2 rises linearly from the
// darkest level measured to the brightest.
struct DecodeLimits {
    float modulation = 0.0f;
    float darkLevel = 0.0f, brightLevel = 1.0f;
    float darkVariance = 0.0f, brightVariance = 0.0f;
    float contrast = 0.0f;   // least contrast of a known threshold
    float noise = 0.0f;      // the camera's, overall
    float resolution = 0.0f; // as DecodedPositions::resolution

    float noiseAt(float level) const
    {
        const float f =
            brightLevel > darkLevel
                ? std::clamp((level - darkLevel) / (brightLevel - darkLevel), 0.0f, 1.0f)
                : 0.0f;
        return std::sqrt(darkVariance + f * (brightVariance - darkVariance));
    }
};

class CaptureDecoder
{
public:
    CaptureDecoder(const CapturePlan &plan, const ScanTiming &timing);

    // captures[c] shows page plan.pages[c]; each width x height grey values,
    // row-major, as shares of full scale (0 to 1).
    DecodedPositions decode(const std::vector<const float *> &captures, int width,
                            int height) const;

    // The same a band of rows at a time, for views too large to hold every
    // capture whole; the result is the same to the bit. First the limits,
    // from the rows sampleRows names (captures[c] holds just those rows of
    // capture c, in that order), then each band: captures[c] holds `rows`
    // rows of capture c, and out receives them decoded (its counts for the
    // band alone).
    static std::vector<int> sampleRows(int width, int height);
    DecodeLimits measureLimits(const std::vector<const float *> &sampled, int width,
                               int rows) const;
    void decodeBand(const std::vector<const float *> &captures, int width, int rows,
                    const DecodeLimits &limits, DecodedPositions *out) const;

    const CapturePlan &plan() const { return p; }
    // u at the 1025 cell edges of a page.
    const std::vector<double> &cellEdges() const { return uEdges; }
    // u of the centre of the played cell whose samples were computed for the
    // sampled position t (the phase generator's t = phase / (S pi)).
    float playedPosition(float t) const
    {
        const float k = (t - tableStart) * tableInvStep;
        const int i = k <= 0.0f ? 0 : k >= float(tableLast) ? tableLast - 1 : int(k);
        const float f = k - float(i);
        return playedTable[size_t(i)] + f * (playedTable[size_t(i) + 1] - playedTable[size_t(i)]);
    }

private:
    void buildPlayedTable(const ScanTiming &t, const std::vector<double> &x);
    struct Roles;
    struct Row;
    // One row: the steps below, in this order, each filling its part of row.
    void decodeRow(const Roles &roles, size_t offset, int width, Row &row) const;
    void markSaturated(const Roles &roles, size_t offset, size_t w, Row &row) const;
    bool referenceSums(const Roles &roles, size_t offset, size_t w, Row &row) const;
    bool phaseSums(const Roles &roles, size_t offset, size_t w, bool haveThreshold, Row &row) const;
    bool squareSums(const Roles &roles, size_t offset, size_t w, bool haveThreshold,
                    Row &row) const;
    void grayCode(const Roles &roles, size_t offset, size_t w, bool haveThreshold, Row &row) const;
    void grayThreshold(const Roles &roles, size_t offset, size_t w, Row &row) const;
    void placeByFineSet(size_t w, Row &row) const;
    float phasePosition(float c, float s, bool striped, float centre, float period) const;
    float squarePosition(float c, float s, bool striped, float centre) const;
    void placeWithinStripe(const Roles &roles, size_t offset, size_t w, Row &row) const;
    struct Tally;
    void decodeRows(const Roles &roles, int rowBegin, int rowEnd, int width,
                    const DecodeLimits &limits, DecodedPositions &out, Tally &tally) const;
    Roles rolesOf(const std::vector<const float *> &captures) const;
    float modulationReach(const Roles &roles, int width, int height, int rowStride) const;
    struct CameraNoise;
    static CameraNoise measureNoise(const std::vector<const float *> &captures, int width,
                                    int height, int rowStride);
    static DecodeLimits limitsOf(float high, const CameraNoise &noise);
    float grayContrastLimit(const Roles &roles, int width, int height, int rowStride,
                            float modulation) const;
    DecodeLimits measure(const std::vector<const float *> &captures, int width, int height,
                         int rowStride) const;

    CapturePlan p;
    ScanTiming timing;
    std::vector<double> uEdges;
    // playedPosition as a table over t
    std::vector<float> playedTable;
    float tableStart = 0.0f;
    float tableStep = 0.0f;
    float tableInvStep = 0.0f;
    int tableLast = 0; // index of the last entry
    // Gray code: stripe of each code word, stripe extents in u
    int grayBits = 0;
    std::vector<int> stripeOfCode;
    std::vector<float> stripeLo, stripeHi;
    // For each stripe, the bit that changes at its lower and upper edge (-1
    // at the window's edges) and that bit's value inside the stripe.
    std::vector<int> lowerBit, upperBit;
    std::vector<quint8> lowerLit, upperLit;
    // phase shift
    int steps = 0;
    int periods = 0; // of the fine set
    std::vector<float> shiftCos, shiftSin;
    // square wave segments
    int squarePeriods = 0;
    std::vector<float> segmentLo, segmentHi;
};

#endif
