#include "Reconstruction.h"

#include "analysis/CaptureDecoder.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

Reconstruction reconstruct(const CameraModel &camera, const SheetModel &sheets,
                           const DecodedPositions &decoded, const float *light)
{
    Reconstruction r;
    r.width = decoded.width;
    r.height = decoded.height;
    const size_t count = size_t(r.width) * size_t(r.height);
    r.depth.assign(count, std::numeric_limits<float>::quiet_NaN());
    const SheetTable table(sheets);
    const Vec3 axis = sheets.axisDirection;
    double nearest = std::numeric_limits<double>::infinity(), farthest = 0.0;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const size_t i = size_t(y) * size_t(r.width) + size_t(x);
            if (!decoded.valid[i])
                continue;
            const Vec3 n = table.normal(decoded.position[i]);
            double xn, yn;
            if (!std::isfinite(n.x) || !camera.undistort(x, y, &xn, &yn))
                continue;
            const Vec3 ray{xn, yn, 1.0};
            const double along = dot(n, ray);
            const double t = table.offset(n) / along;
            if (!(t > 0.0))
                continue; // behind the camera
            const Vec3 p = t * ray;
            // Beyond the range, or on the half of the plane the beam never
            // takes (behind the mirror).
            if (!(norm(p) <= kMaxRangeMm) || dot(p - sheets.axisPoint, cross(n, axis)) <= 0.0)
                continue;
            r.depth[i] = float(p.z);
            r.xyz.push_back(float(p.x));
            r.xyz.push_back(float(p.y));
            r.xyz.push_back(float(p.z));
            const float level = light ? light[i] : decoded.modulation[i];
            r.intensity.push_back(quint8(std::lround(std::clamp(level, 0.0f, 1.0f) * 255.0f)));
            nearest = std::min(nearest, p.z);
            farthest = std::max(farthest, p.z);
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
