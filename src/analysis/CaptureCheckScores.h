#ifndef DVK_CAPTURECHECKSCORES_H
#define DVK_CAPTURECHECKSCORES_H

// How well captures match pages: correlation sums, the blur under which
// they match best, and what the camera's noise alone takes from a match.
// Shared by the capture check's files only.

#include "CaptureCheckLight.h"

#include <cmath>
#include <vector>

namespace capturecheck
{

// Below this variance over the view a page is taken as constant there, and
// compared by its level rather than correlated.
constexpr double kConstantPage = 1e-3;

// Correlation sums of one capture against one page.
struct Pair {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, absDiff = 0;

    void add(double x, double y)
    {
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
        absDiff += std::fabs(x - y);
    }
    // Correlation, or for a page constant over the view the agreement of
    // levels (1 when the capture sits at the page's level everywhere, 0 half
    // a full swing away, -1 a full swing).
    double score(bool uniformPage = false) const
    {
        if (n < 2)
            return 0.0;
        const double vx = sxx / n - (sx / n) * (sx / n);
        const double vy = syy / n - (sy / n) * (sy / n);
        if (uniformPage || vy < kConstantPage)
            return 1.0 - 2.0 * absDiff / n;
        if (vx <= 0.0)
            return 0.0;
        return (sxy / n - (sx / n) * (sy / n)) / std::sqrt(vx * vy);
    }
};

struct Scoring {
    // score[c][p]: capture c against page p (all pages, or only the capture's
    // own when scored for a hypothesis).
    std::vector<std::vector<double>> score;
    std::vector<double> own;
    std::vector<double> contrast;
    // stray[c][bin], count[bin]
    std::vector<std::vector<double>> stray;
    std::vector<int> binCount;
    double spread = 0.0;
    qint64 samples = 0;
};

// Scores captures (in plan order, capture c shows page ownPage[c]) against
// pages at the decoded positions.
// spread: the blur to assume, in footprints; 0 picks one from kSpreads.
Scoring score(const PageLight &light, const std::vector<const float *> &planes,
              const DecodedPositions &d, const std::vector<int> &ownPage, bool allPages,
              double spread = 0.0);

// What the camera's noise alone takes from a perfect match of each capture
// with its page.
std::vector<double> noiseLoss(const PageLight &light, const std::vector<Sample> &samples,
                              const std::vector<const float *> &planes,
                              const std::vector<int> &ownPage, double spread, double noise);

double meanOf(const std::vector<double> &v);
// Captures matching their pages less than least, row by row.
int failures(const std::vector<double> &own, const std::vector<double> &least);

} // namespace capturecheck

#endif
