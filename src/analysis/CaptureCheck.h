#ifndef DVK_CAPTURECHECK_H
#define DVK_CAPTURECHECK_H

// Checking that each capture shows the page it should: the read-back the
// burn protocol lacks. With the decoded positions the file's pages say what
// every capture should look like at every valid pixel; each capture is
// correlated with its own page and with every other page of the file, and
// compared with its page stretch by stretch of the window.
//
// Captures in the wrong order decode to wrong positions, against which no
// capture matches well; so when captures fail, swapped pairs are tried and a
// swap that explains the captures is named as such. Two captures of one Gray
// set swapped decode to a valid but scrambled code that no pixel on its own
// shows, and a Gray capture showing a stripe inverted mirrors the code there:
// positions then run back against the others'. When they do, Gray pairs
// swapped and each Gray capture inverted are tried as well.

#include "CaptureDecoder.h"

#include <QString>
#include <QStringList>

#include <vector>

// A capture matching its page less than this is a problem; less than a dim
// capture's noise lets it reach, the check lowers it by what noise takes.
constexpr double kMinPageMatch = 0.9;
// Positions running back against the others': above this share the check
// looks for Gray captures out of order or showing a stripe inverted, and
// names what it finds; depth edges can give this much in a scene with deep
// steps.
constexpr double kSuspectRunBackShare = 0.02;
// Above this share, far beyond what depth edges give, running back is a
// problem in itself, explained or not.
constexpr double kMaxRunBackShare = 0.1;

struct PageMatch {
    int page = 0;    // 1-based page of the file
    int capture = 0; // 1-based capture
    // Michelson contrast of the capture between where its page is lit and
    // where it is dark; NaN when the page is not both over the view.
    double contrast = 0.0;
    double match = 0.0;
    int bestPage = 0;
};

struct CaptureCheckResult {
    std::vector<PageMatch> pages; // one per capture, in capture order
    double runBackShare = 0.0;    // of the positions as decoded
    bool consistent = false;
    QStringList problems;
};

// The captures as the check reads them: every stride-th pixel of each axis
// (captureGridStride), from the first.
struct CaptureGrid {
    int width = 0;
    int height = 0;
    int stride = 1;
    std::vector<std::vector<float>> planes;

    std::vector<const float *> pointers(const std::vector<int> &order) const
    {
        std::vector<const float *> list;
        for (int c : order)
            list.push_back(planes[size_t(c)].data());
        return list;
    }
};
int captureGridStride(int width, int height);

// file: every page of the pattern file, kSamplesPerPage values each (a
// shorter last page is padded with 0). captures as for CaptureDecoder::decode,
// decoded: its result for them.
CaptureCheckResult checkCaptures(const CaptureDecoder &decoder,
                                 const std::vector<std::vector<int>> &file,
                                 const std::vector<const float *> &captures, int width, int height,
                                 const DecodedPositions &decoded);
// The same from the captures' grid alone, for captures never held whole.
CaptureCheckResult checkCaptures(const CaptureDecoder &decoder,
                                 const std::vector<std::vector<int>> &file, const CaptureGrid &grid,
                                 const DecodedPositions &decoded);

// Positions against the direction they run in: along each line of pixels
// in the direction positions change most, the valid pixels outside the
// longest run that never steps back by more than a projector column (or by
// more than the positions resolve, d.resolution). A depth
// edge puts only the stretch its parallax overlaps out of order; captures of
// a Gray set out of order put whole blocks of stripes there.
struct RunBack {
    double share = 0.0;          // of the valid pixels
    std::vector<quint8> inOrder; // per pixel: valid and in the longest run
    int axis = 0;                // 0 along rows, 1 along columns
    double direction = 1.0;      // +1 when positions grow along the axis
};
// With axis < 0 the axis and direction are found from the positions.
RunBack runBack(const DecodedPositions &d, int axis = -1, double direction = 1.0);

#endif
