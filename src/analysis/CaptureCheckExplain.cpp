#include "CaptureCheckExplain.h"

#include <algorithm>
#include <numeric>

namespace capturecheck
{

namespace
{

// An explanation of the captures is believed when it leaves this many
// fewer captures failing, counting a share of positions running back (above
// the share depth edges may give) at kRunBackCost captures per unit; or,
// at no cost, when it raises the mean match by kHypothesisGain.
constexpr double kExplanationGain = 0.5;
constexpr double kHypothesisGain = 0.03;
// kMinPageMatch allows for this much of a match lost to the camera's noise
// (a reference at a good exposure loses about 0.025); where noise alone
// takes more, as from a dim capture, the least match comes down by the rest.
constexpr double kNoiseLossHeld = 0.03;
// ... but never below this: a capture that noise keeps from matching its
// page better cannot be told from one showing another page.
constexpr double kNoisiestPageMatch = 0.5;

std::vector<int> identityOrder(int count)
{
    std::vector<int> identity(static_cast<size_t>(count));
    std::iota(identity.begin(), identity.end(), 0);
    return identity;
}

bool better(const Explanation &a, const Explanation &b)
{
    if (a.cost() < b.cost() - kExplanationGain)
        return true;
    return a.cost() <= b.cost() && a.mean > b.mean + kHypothesisGain &&
           a.back.share <= b.back.share;
}

// Decodes and scores explanations of the captures on a coarser grid of
// pixels: decoding it again costs little and lets other explanations be
// tried. The blur is the one under which the plan's order matches best.
class Explainer
{
public:
    // noise: the camera's, measured on the full captures.
    Explainer(const CaptureDecoder &decoder, const PageLight &light, const Grid &grid,
              const std::vector<int> &ownPage, double noise)
        : decoder(decoder), light(light), grid(grid), ownPage(ownPage)
    {
        planned.order = identityOrder(int(ownPage.size()));
        const std::vector<const float *> planes = grid.pointers(planned.order);
        planned.positions = decoder.decode(planes, grid.width, grid.height);
        spread = score(light, planes, planned.positions, ownPage, false).spread;
        const std::vector<double> loss =
            noiseLoss(light, samplesOf(planned.positions, planes), planes, ownPage, spread, noise);
        for (double l : loss)
            leastMatch.push_back(
                std::max(kNoisiestPageMatch, kMinPageMatch - std::max(0.0, l - kNoiseLossHeld)));
        judge(planned);
    }

    // The plan's own order.
    const Explanation &plan() const { return planned; }
    double blur() const { return spread; }
    // The least match of the capture taken to show page ownPage[k], row by
    // row: kMinPageMatch, lowered where noise alone takes more than
    // kNoiseLossHeld from it.
    const std::vector<double> &least() const { return leastMatch; }

    Explanation swapped(const Explanation &from, int a, int b) const
    {
        Explanation e;
        e.order = from.order;
        std::swap(e.order[size_t(a)], e.order[size_t(b)]);
        e.positions = decoder.decode(grid.pointers(e.order), grid.width, grid.height);
        judge(e);
        return e;
    }

    // A Gray capture showing part of its page inverted mirrors the code
    // there: decode with the capture's negative (between the darkest and
    // brightest capture of each pixel) and take, pixel by pixel, whichever
    // decode is in order.
    Explanation inverted(const Explanation &from, int c) const
    {
        Explanation e;
        e.order = from.order;
        e.inverted = c;
        const size_t k = size_t(std::find(e.order.begin(), e.order.end(), c) - e.order.begin());
        const std::vector<float> negative = negativeOf(c);
        std::vector<const float *> planes = grid.pointers(e.order);
        planes[k] = negative.data();
        const DecodedPositions d = decoder.decode(planes, grid.width, grid.height);
        const RunBack back = runBack(d, from.back.axis, from.back.direction);
        e.positions = from.positions;
        for (size_t i = 0; i < e.positions.valid.size(); ++i) {
            if (!from.back.inOrder[i] && back.inOrder[i]) {
                e.positions.position[i] = d.position[i];
                e.positions.valid[i] = 1;
            }
        }
        judge(e);
        return e;
    }

private:
    // Each explanation finds the direction its positions run in: scrambled
    // positions may point the other way.
    void judge(Explanation &e) const
    {
        e.back = runBack(e.positions);
        e.scores = score(light, grid.pointers(e.order), e.positions, ownPage, false, spread);
        e.failing = failures(e.scores.own, leastMatch);
        e.mean = meanOf(e.scores.own);
    }

    std::vector<float> negativeOf(int c) const
    {
        const std::vector<float> &plane = grid.planes[size_t(c)];
        std::vector<float> negative(plane.size());
        for (size_t i = 0; i < negative.size(); ++i) {
            float lo = plane[i], hi = plane[i];
            for (const std::vector<float> &other : grid.planes) {
                lo = std::min(lo, other[i]);
                hi = std::max(hi, other[i]);
            }
            negative[i] = lo + hi - plane[i];
        }
        return negative;
    }

    const CaptureDecoder &decoder;
    const PageLight &light;
    const Grid &grid;
    const std::vector<int> &ownPage;
    Explanation planned;
    double spread = 0.0;
    std::vector<double> leastMatch;
};

// One round of the search: swapped pairs that involve a capture failing,
// pairs of Gray captures when positions run back (two Gray captures
// swapped decode to a code every pixel finds consistent) and each Gray
// capture inverted. Replaces best with what explains the captures better,
// if anything does.
bool improve(const Explainer &x, const std::vector<int> &grayCaptures, Explanation &best)
{
    const int count = int(best.order.size());
    const bool runsBack = best.back.share > kSuspectRunBackShare;
    std::vector<bool> failing(static_cast<size_t>(count), false);
    for (int k = 0; k < count; ++k)
        failing[size_t(best.order[size_t(k)])] = best.scores.own[size_t(k)] < x.least()[size_t(k)];
    Explanation next;
    bool found = false;
    auto consider = [&](Explanation &&e) {
        if (better(e, found ? next : best)) {
            next = std::move(e);
            found = true;
        }
    };
    auto isGray = [&](int c) { return std::count(grayCaptures.begin(), grayCaptures.end(), c); };
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b) {
            const int ca = best.order[size_t(a)], cb = best.order[size_t(b)];
            const bool grayPair = isGray(ca) && isGray(cb);
            if (!failing[size_t(ca)] && !failing[size_t(cb)] && !(runsBack && grayPair))
                continue;
            // Believed only when both captures match the pages they are
            // then taken to show.
            Explanation e = x.swapped(best, a, b);
            if (e.scores.own[size_t(a)] >= x.least()[size_t(a)] &&
                e.scores.own[size_t(b)] >= x.least()[size_t(b)])
                consider(std::move(e));
        }
    if (runsBack && best.inverted < 0)
        for (int c : grayCaptures)
            consider(x.inverted(best, c));
    if (found)
        best = std::move(next);
    return found;
}

// Captures out of order or inverted: what explains the captures best,
// starting from the plan. A few rounds for more than one fault.
Explanation explain(const Explainer &x, const std::vector<int> &grayCaptures)
{
    Explanation best = x.plan();
    for (int round = 0; round < 3 && best.cost() > 0.0; ++round)
        if (!improve(x, grayCaptures, best))
            break;
    return best;
}

} // namespace

std::vector<int> ownPagesOf(const CapturePlan &plan)
{
    std::vector<int> ownPage(plan.pages.size());
    for (size_t c = 0; c < plan.pages.size(); ++c)
        ownPage[c] = plan.pages[c] - 1;
    return ownPage;
}

std::vector<int> grayCapturesOf(const CapturePlan &plan)
{
    std::vector<int> grayCaptures;
    if (plan.gray >= 0) {
        const CaptureSetRequest &gray = plan.sets[size_t(plan.gray)];
        for (int k = 0; k < gray.patternCount(); ++k)
            grayCaptures.push_back(plan.captureOfPage(gray.page + k));
    }
    return grayCaptures;
}

Explained explainCaptures(const CaptureDecoder &decoder, const PageLight &light, const Grid &grid,
                          const std::vector<int> &ownPage, double noise)
{
    const Explainer explainer(decoder, light, grid, ownPage, noise);
    Explained e;
    e.best = explain(explainer, grayCapturesOf(decoder.plan()));
    e.planned = explainer.plan().order;
    e.blur = explainer.blur();
    e.least = explainer.least();
    return e;
}

} // namespace capturecheck
