#include "ProjectedPreview.h"

#include <algorithm>

std::vector<int> projectedSampleOrder(const ScanTiming &t)
{
    // 2 × 1024 segments of equal projected width: the odd boundaries are the
    // times at which the beam crosses the centres of the 1024 steps.
    const std::vector<float> times = segmentBoundaries(t, 2 * kSamplesPerPage, squareEdgeRatio(t));
    const std::array<float, kSamplesPerPage> instants = sampleInstants(t);
    std::vector<int> order(kSamplesPerPage);
    for (int k = 0; k < kSamplesPerPage; ++k) {
        // Sample i is played up to its instant: the first instant at or after
        // the crossing names it.
        const float crossing = times[size_t(2 * k + 1)];
        const auto it = std::lower_bound(instants.begin(), instants.end(), crossing);
        order[size_t(k)] = std::min(int(it - instants.begin()), kSamplesPerPage - 1);
    }
    return order;
}

QVector<int> projectedPage(const QVector<int> &values, const ScanTiming &timing)
{
    QVector<int> page;
    page.reserve(kSamplesPerPage);
    for (int sample : projectedSampleOrder(timing)) {
        if (sample >= values.size())
            break;
        page.append(values[sample]);
    }
    return page;
}
