#include "SheetModel.h"

#include "patterns/ScanTiming.h"

#include <QJsonArray>

#include <cmath>
#include <limits>

double norm(Vec3 a)
{
    return std::sqrt(dot(a, a));
}

Vec3 normalized(Vec3 a)
{
    return (1.0 / norm(a)) * a;
}

void CameraModel::project(double xn, double yn, double *px, double *py) const
{
    const double k1 = distortion[0], k2 = distortion[1], p1 = distortion[2], p2 = distortion[3],
                 k3 = distortion[4];
    const double r2 = xn * xn + yn * yn;
    const double radial = 1.0 + r2 * (k1 + r2 * (k2 + r2 * k3));
    const double xd = xn * radial + 2.0 * p1 * xn * yn + p2 * (r2 + 2.0 * xn * xn);
    const double yd = yn * radial + p1 * (r2 + 2.0 * yn * yn) + 2.0 * p2 * xn * yn;
    *px = fx * xd + skew * yd + cx;
    *py = fy * yd + cy;
}

bool CameraModel::undistort(double px, double py, double *xn, double *yn) const
{
    const double k1 = distortion[0], k2 = distortion[1], p1 = distortion[2], p2 = distortion[3],
                 k3 = distortion[4];
    const double ty = (py - cy) / fy;
    const double tx = (px - cx - skew * ty) / fx;
    double x = tx, y = ty;
    for (int iteration = 0; iteration < 30; ++iteration) {
        const double r2 = x * x + y * y;
        const double radial = 1.0 + r2 * (k1 + r2 * (k2 + r2 * k3));
        const double slope = k1 + r2 * (2.0 * k2 + 3.0 * k3 * r2); // d radial / d r2
        const double fxv = x * radial + 2.0 * p1 * x * y + p2 * (r2 + 2.0 * x * x) - tx;
        const double fyv = y * radial + p1 * (r2 + 2.0 * y * y) + 2.0 * p2 * x * y - ty;
        const double cross = 2.0 * x * y * slope + 2.0 * p1 * x + 2.0 * p2 * y;
        const double a = radial + 2.0 * x * x * slope + 2.0 * p1 * y + 6.0 * p2 * x;
        const double d = radial + 2.0 * y * y * slope + 6.0 * p1 * y + 2.0 * p2 * x;
        const double det = a * d - cross * cross;
        if (!(std::fabs(det) > 1e-12))
            return false;
        const double dx = (d * fxv - cross * fyv) / det;
        const double dy = (a * fyv - cross * fxv) / det;
        x -= dx;
        y -= dy;
        if (std::fabs(dx) + std::fabs(dy) < 1e-13) {
            *xn = x;
            *yn = y;
            return std::isfinite(x) && std::isfinite(y);
        }
    }
    return false;
}

Vec3 SheetModel::reference() const
{
    const Vec3 forward{0.0, 0.0, 1.0};
    return normalized(forward - dot(forward, axisDirection) * axisDirection);
}

double SheetModel::sheetAngle(double u) const
{
    return amplitude * std::atan(u * edgePosition) + zero;
}

Vec3 SheetModel::sheetNormal(double u) const
{
    const double psi = sheetAngle(u);
    return std::cos(psi) * sideways() - std::sin(psi) * reference();
}

double SheetModel::positionOf(Vec3 p) const
{
    const Vec3 w = p - axisPoint;
    const double across = dot(w, sideways()), along = dot(w, reference());
    if (across == 0.0 && along == 0.0)
        return std::numeric_limits<double>::quiet_NaN();
    const double psi = std::atan2(across, along);
    return std::tan((psi - zero) / amplitude) / edgePosition;
}

SheetTable::SheetTable(const SheetModel &model) : normals(kSize), point(model.axisPoint)
{
    const double step = (kEnd - kStart) / (kSize - 1);
    for (int k = 0; k < kSize; ++k)
        normals[size_t(k)] = model.sheetNormal(kStart + k * step);
    scale = (kSize - 1) / (kEnd - kStart);
}

Vec3 SheetTable::normal(float u) const
{
    const double k = (double(u) - kStart) * scale;
    if (!(k >= 0.0 && k < kSize - 1)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan, nan};
    }
    const int i = int(k);
    const double f = k - i;
    const Vec3 &a = normals[size_t(i)], &b = normals[size_t(i) + 1];
    return a + f * (b - a);
}

namespace
{

QJsonArray array(std::initializer_list<double> values)
{
    QJsonArray a;
    for (double v : values)
        a.append(v);
    return a;
}

bool numbers(const QJsonObject &o, const QString &key, int count, double *out, QString *error)
{
    const QJsonValue v = o.value(key);
    if (count == 1) {
        if (!v.isDouble()) {
            *error = QString("'%1' is not a number").arg(key);
            return false;
        }
        *out = v.toDouble();
        return true;
    }
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != count) {
        *error = QString("'%1' is not a list of %2 numbers").arg(key).arg(count);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!a[i].isDouble()) {
            *error = QString("'%1' is not a list of %2 numbers").arg(key).arg(count);
            return false;
        }
        out[i] = a[i].toDouble();
    }
    return true;
}

} // namespace

QJsonObject cameraJson(const CameraModel &c)
{
    QJsonObject o;
    o["width"] = c.width;
    o["height"] = c.height;
    o["matrix"] = array({c.fx, c.skew, c.cx, 0.0, c.fy, c.cy, 0.0, 0.0, 1.0});
    o["distortion"] = array(
        {c.distortion[0], c.distortion[1], c.distortion[2], c.distortion[3], c.distortion[4]});
    o["rms_px"] = c.rmsPx;
    return o;
}

QJsonObject projectorJson(const SheetModel &m, int scanValue)
{
    QJsonObject o;
    o["scan_value"] = scanValue;
    o["rms_u"] = m.rmsU;
    o["model"] = "u names the sheet through axis_point_mm along axis_direction at the angle "
                 "amplitude * atan(u * edge_position) + zero_rad from reference_direction, "
                 "turning towards axis_direction x reference_direction";
    o["edge_position"] = m.edgePosition;
    o["axis_point_mm"] = array({m.axisPoint.x, m.axisPoint.y, m.axisPoint.z});
    o["axis_direction"] = array({m.axisDirection.x, m.axisDirection.y, m.axisDirection.z});
    const Vec3 r = m.reference();
    o["reference_direction"] = array({r.x, r.y, r.z});
    o["amplitude"] = m.amplitude;
    o["zero_rad"] = m.zero;
    return o;
}

bool cameraFromJson(const QJsonObject &o, CameraModel *c, QString *error)
{
    double size[2], matrix[9];
    if (!numbers(o, "width", 1, &size[0], error) || !numbers(o, "height", 1, &size[1], error) ||
        !numbers(o, "matrix", 9, matrix, error) ||
        !numbers(o, "distortion", 5, c->distortion.data(), error))
        return false;
    for (double v : size)
        if (!(v >= 1.0 && v <= 1e6) || v != std::floor(v)) {
            *error = "'width' and 'height' must be whole numbers of pixels";
            return false;
        }
    c->width = int(size[0]);
    c->height = int(size[1]);
    c->fx = matrix[0];
    c->skew = matrix[1];
    c->cx = matrix[2];
    c->fy = matrix[4];
    c->cy = matrix[5];
    if (!(c->fx > 0.0 && c->fy > 0.0) || !std::isfinite(c->fx + c->fy + c->cx + c->cy + c->skew) ||
        matrix[3] != 0.0 || matrix[6] != 0.0 || matrix[7] != 0.0 || matrix[8] != 1.0) {
        *error = "'matrix' is not a camera matrix with positive focal lengths";
        return false;
    }
    for (double d : c->distortion)
        if (!std::isfinite(d)) {
            *error = "'distortion' holds a value that is not finite";
            return false;
        }
    c->rmsPx = o.value("rms_px").toDouble();
    return true;
}

bool projectorFromJson(const QJsonObject &o, SheetModel *m, int *scanValue, QString *error)
{
    double scan = 0.0, point[3], direction[3];
    if (!numbers(o, "scan_value", 1, &scan, error) ||
        !numbers(o, "axis_point_mm", 3, point, error) ||
        !numbers(o, "axis_direction", 3, direction, error) ||
        !numbers(o, "amplitude", 1, &m->amplitude, error) ||
        !numbers(o, "zero_rad", 1, &m->zero, error))
        return false;
    if (scan != std::floor(scan) || !scanValueValid(float(scan))) {
        *error = QString("'scan_value' %1 is outside %2 to %3")
                     .arg(scan)
                     .arg(kMinScanValue)
                     .arg(kMaxScanValue);
        return false;
    }
    *scanValue = int(scan);
    m->edgePosition = computeScanTiming(float(scan)).edgePosition;
    m->axisPoint = {point[0], point[1], point[2]};
    const Vec3 d{direction[0], direction[1], direction[2]};
    if (!(norm(d) > 0.0) || !std::isfinite(norm(d)) || !std::isfinite(norm(m->axisPoint)) ||
        std::fabs(dot(normalized(d), {0.0, 0.0, 1.0})) > 0.999999) {
        *error = "'axis_direction' is not a direction across the camera's view";
        return false;
    }
    m->axisDirection = normalized(d);
    if (!(m->amplitude > 0.0) || !std::isfinite(m->amplitude) || !std::isfinite(m->zero)) {
        *error = "'amplitude' must be positive and 'zero_rad' finite";
        return false;
    }
    m->rmsU = o.value("rms_u").toDouble();
    return true;
}
