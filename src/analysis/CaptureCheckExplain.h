#ifndef DVK_CAPTURECHECKEXPLAIN_H
#define DVK_CAPTURECHECKEXPLAIN_H

// Captures out of order or showing a stripe inverted: the explanations the
// capture check tries, and the one that explains the captures best. Shared
// by the check's files only.

#include "CaptureCheck.h"
#include "CaptureCheckScores.h"

#include <vector>

namespace capturecheck
{

// Capture c shows page ownPage[c] (0-based) by the plan.
std::vector<int> ownPagesOf(const CapturePlan &plan);
// The captures of the Gray set, if any.
std::vector<int> grayCapturesOf(const CapturePlan &plan);

// A share of positions running back above what depth edges may give costs
// an explanation this many failing captures per unit.
constexpr double kRunBackCost = 10.0;

// One explanation of the captures: an order (order[k]: the capture taken to
// show page plan.pages[k]), and where a Gray capture is taken to show a
// stripe inverted, the positions repaired by it.
struct Explanation {
    std::vector<int> order;
    int inverted = -1;
    DecodedPositions positions;
    RunBack back;
    Scoring scores;
    int failing = 0;
    double mean = 0.0;
    // Captures that fail, and positions running back: two Gray captures
    // swapped fail no capture but scramble the positions. Depth edges
    // put a few per cent out of order, which no explanation removes.
    double cost() const
    {
        return failing + kRunBackCost * std::max(0.0, back.share - kSuspectRunBackShare);
    }
};

// The outcome of the search, with what the captures were judged by.
struct Explained {
    Explanation best;
    std::vector<int> planned; // the plan's own order
    double blur = 0.0;        // the spread the plan's order matches best under
    // The least match of the capture taken to show page ownPage[k], row by
    // row: kMinPageMatch, lowered for a capture too dim to reach it.
    std::vector<double> least;
};

// What explains the captures best, starting from the plan, judged on grid.
// noise: the camera's, measured on the full captures.
Explained explainCaptures(const CaptureDecoder &decoder, const PageLight &light, const Grid &grid,
                          const std::vector<int> &ownPage, double noise);

} // namespace capturecheck

#endif
