#include "Reconstruction.h"

#include "analysis/CaptureDecoder.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{

// The rays of a pixel grid: the lens inverted exactly at every fourth pixel
// and interpolated between. The inversion is smooth, so the interpolation
// misses by well under a thousandth of a pixel, at a sixteenth of the cost.
class RayGrid
{
public:
    static constexpr int kStep = 4;

    RayGrid(const CameraModel &camera, int width, int height)
        : columns((width - 1) / kStep + 2), rows((height - 1) / kStep + 2),
          xs(size_t(columns) * size_t(rows)), ys(xs.size())
    {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                double x = std::numeric_limits<double>::quiet_NaN(), y = x;
                if (!camera.undistort(c * kStep, r * kStep, &x, &y))
                    x = y = std::numeric_limits<double>::quiet_NaN();
                xs[size_t(r) * size_t(columns) + size_t(c)] = x;
                ys[size_t(r) * size_t(columns) + size_t(c)] = y;
            }
    }

    // False where the lens could not be inverted.
    bool ray(int x, int y, double *xn, double *yn) const
    {
        const int c = x / kStep, r = y / kStep;
        const double fx = double(x - c * kStep) / kStep, fy = double(y - r * kStep) / kStep;
        const size_t i = size_t(r) * size_t(columns) + size_t(c);
        const size_t below = i + size_t(columns);
        *xn = (1.0 - fy) * ((1.0 - fx) * xs[i] + fx * xs[i + 1]) +
              fy * ((1.0 - fx) * xs[below] + fx * xs[below + 1]);
        *yn = (1.0 - fy) * ((1.0 - fx) * ys[i] + fx * ys[i + 1]) +
              fy * ((1.0 - fx) * ys[below] + fx * ys[below + 1]);
        return std::isfinite(*xn) && std::isfinite(*yn);
    }

private:
    int columns, rows;
    std::vector<double> xs, ys;
};

} // namespace

Reconstruction reconstruct(const CameraModel &camera, const SheetModel &sheets,
                           const DecodedPositions &decoded, const float *light)
{
    Reconstruction r;
    r.width = decoded.width;
    r.height = decoded.height;
    const size_t count = size_t(r.width) * size_t(r.height);
    r.depth.assign(count, std::numeric_limits<float>::quiet_NaN());
    const SheetTable table(sheets);
    const RayGrid rays(camera, r.width, r.height);
    const Vec3 axis = sheets.axisDirection;
    std::vector<float> z(count, std::numeric_limits<float>::quiet_NaN());
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const size_t i = size_t(y) * size_t(r.width) + size_t(x);
            if (!decoded.valid[i])
                continue;
            const Vec3 n = table.normal(decoded.position[i]);
            double xn, yn;
            if (!std::isfinite(n.x) || !rays.ray(x, y, &xn, &yn))
                continue;
            const Vec3 ray{xn, yn, 1.0};
            const double t = table.offset(n) / dot(n, ray);
            if (!(t > 0.0))
                continue; // behind the camera
            const Vec3 p = t * ray;
            // Beyond the range, or on the half of the plane the beam never
            // takes (behind the mirror).
            if (!(norm(p) <= kMaxRangeMm) || dot(p - sheets.axisPoint, cross(n, axis)) <= 0.0)
                continue;
            z[i] = float(p.z);
        }

    // Across a depth edge a pixel's light mixes both surfaces and its
    // point floats between them: a pixel whose neighbours span a jump
    // larger than any surface seen at a pixel's spacing gives is not
    // measured.
    r.xyz.reserve(size_t(decoded.validCount) * 3);
    r.intensity.reserve(size_t(decoded.validCount));
    double nearest = std::numeric_limits<double>::infinity(), farthest = 0.0;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const size_t i = size_t(y) * size_t(r.width) + size_t(x);
            if (!std::isfinite(z[i]))
                continue;
            float low = z[i], high = z[i];
            for (int dy = std::max(y - 1, 0); dy <= std::min(y + 1, r.height - 1); ++dy)
                for (int dx = std::max(x - 1, 0); dx <= std::min(x + 1, r.width - 1); ++dx) {
                    const float v = z[size_t(dy) * size_t(r.width) + size_t(dx)];
                    if (std::isfinite(v)) {
                        low = std::min(low, v);
                        high = std::max(high, v);
                    }
                }
            if (high - low > kDepthEdgeShare * z[i])
                continue;
            double xn, yn;
            rays.ray(x, y, &xn, &yn);
            r.depth[i] = z[i];
            r.xyz.push_back(float(xn * z[i]));
            r.xyz.push_back(float(yn * z[i]));
            r.xyz.push_back(z[i]);
            const float level = light ? light[i] : decoded.modulation[i];
            r.intensity.push_back(quint8(std::lround(std::clamp(level, 0.0f, 1.0f) * 255.0f)));
            nearest = std::min(nearest, double(z[i]));
            farthest = std::max(farthest, double(z[i]));
        }
    r.points = qint64(r.intensity.size());
    if (r.points > 0) {
        r.nearest = nearest;
        r.farthest = farthest;
    }
    return r;
}

QByteArray pointCloudPly(const Reconstruction &r)
{
    QByteArray bytes = QString("ply\n"
                               "format binary_little_endian 1.0\n"
                               "comment millimetres, camera frame: x right, y down, z forward\n"
                               "element vertex %1\n"
                               "property float x\n"
                               "property float y\n"
                               "property float z\n"
                               "property uchar intensity\n"
                               "end_header\n")
                           .arg(r.points)
                           .toLatin1();
    constexpr int kVertexBytes = 13;
    const int start = bytes.size();
    bytes.resize(start + int(r.points) * kVertexBytes);
    char *out = bytes.data() + start;
    for (qint64 k = 0; k < r.points; ++k) {
        qToLittleEndian<float>(&r.xyz[size_t(3 * k)], 3, out);
        out[12] = char(r.intensity[size_t(k)]);
        out += kVertexBytes;
    }
    return bytes;
}
