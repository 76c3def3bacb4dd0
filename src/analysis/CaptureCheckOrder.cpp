// Whether decoded positions run in order across the view: captures of a
// Gray set out of order, or showing a stripe inverted, put whole blocks out
// of it where depth edges put only a few pixels.
#include "CaptureCheck.h"

#include <algorithm>
#include <cmath>

namespace
{

// The lines of pixels along an axis: 0 rows, 1 columns.
struct Lines {
    int axis;
    int width;
    int height;

    int count() const { return axis == 0 ? height : width; }
    int length() const { return axis == 0 ? width : height; }
    size_t pixelAt(int line, int k) const
    {
        return axis == 0 ? size_t(line) * size_t(width) + size_t(k)
                         : size_t(k) * size_t(width) + size_t(line);
    }
};

// The axis along which positions change most, and their sign there; jumps
// across depth edges say nothing about either.
void runDirection(const DecodedPositions &d, int &axis, double &direction)
{
    const int width = d.width, height = d.height;
    double sum[2] = {0.0, 0.0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            if (!d.valid[i])
                continue;
            if (x + 1 < width && d.valid[i + 1])
                sum[0] +=
                    std::clamp(double(d.position[i + 1]) - double(d.position[i]), -0.05, 0.05);
            if (y + 1 < height && d.valid[i + size_t(width)])
                sum[1] += std::clamp(double(d.position[i + size_t(width)]) - double(d.position[i]),
                                     -0.05, 0.05);
        }
    axis = std::fabs(sum[0]) >= std::fabs(sum[1]) ? 0 : 1;
    direction = sum[axis] >= 0.0 ? 1.0 : -1.0;
}

// Every how many pixels of a line to look, so that positions move on by a
// couple of projector columns from one to the next and noise cannot step
// back.
int orderStride(const DecodedPositions &d, const Lines &lines)
{
    std::vector<double> steps;
    for (int line = 0; line < lines.count(); line += std::max(1, lines.count() / 64))
        for (int k = 0; k + 1 < lines.length(); ++k) {
            const size_t i = lines.pixelAt(line, k), j = lines.pixelAt(line, k + 1);
            if (d.valid[i] && d.valid[j])
                steps.push_back(std::fabs(double(d.position[j]) - double(d.position[i])));
        }
    if (steps.empty())
        return 1;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    const double columns = steps[steps.size() / 2] * (kSamplesPerPage / 2.0);
    return std::clamp(int(std::ceil(2.0 / std::max(columns, 1e-3))), 1, 64);
}

// The longest run of values that never falls more than tolerance below its
// highest value so far, by patience sorting: flag[k] is 1 for the values in
// it. Returns its length.
qint64 longestRun(const std::vector<double> &values, double tolerance, std::vector<quint8> &flag)
{
    std::vector<double> tails; // tails[n]: the least highest value of a run of n + 1
    std::vector<int> tailIndex;
    std::vector<int> previous(values.size(), -1);
    for (size_t k = 0; k < values.size(); ++k) {
        const size_t at = size_t(
            std::upper_bound(tails.begin(), tails.end(), values[k] + tolerance) - tails.begin());
        previous[k] = at > 0 ? tailIndex[at - 1] : -1;
        const double highest = at > 0 ? std::max(tails[at - 1], values[k]) : values[k];
        if (at == tails.size()) {
            tails.push_back(highest);
            tailIndex.push_back(int(k));
        } else {
            tails[at] = highest;
            tailIndex[at] = int(k);
        }
    }
    flag.assign(values.size(), 0);
    qint64 length = 0;
    for (int k = tailIndex.empty() ? -1 : tailIndex.back(); k >= 0; k = previous[size_t(k)]) {
        flag[size_t(k)] = 1;
        ++length;
    }
    return length;
}

} // namespace

RunBack runBack(const DecodedPositions &d, int axis, double direction)
{
    RunBack r;
    r.inOrder.assign(d.valid.size(), 0);
    if (axis < 0)
        runDirection(d, axis, direction);
    r.axis = axis;
    r.direction = direction;
    const Lines lines{axis, d.width, d.height};
    const int stride = orderStride(d, lines);
    qint64 sampled = 0, ordered = 0;
    std::vector<double> values;
    std::vector<int> places;
    std::vector<quint8> flag;
    for (int line = 0; line < lines.count(); ++line) {
        values.clear();
        places.clear();
        for (int k = 0; k < lines.length(); k += stride) {
            const size_t i = lines.pixelAt(line, k);
            if (!d.valid[i])
                continue;
            values.push_back(direction * double(d.position[i]));
            places.push_back(k);
        }
        sampled += qint64(values.size());
        ordered += longestRun(values, d.resolution, flag);
        // The pixels between samples go with the nearest sample before them.
        size_t next = 0;
        for (int k = 0; k < lines.length(); ++k) {
            while (next + 1 < places.size() && places[next + 1] <= k)
                ++next;
            const size_t i = lines.pixelAt(line, k);
            if (d.valid[i] && !places.empty())
                r.inOrder[i] = flag[next];
        }
    }
    r.share = sampled ? double(sampled - ordered) / double(sampled) : 0.0;
    return r;
}
