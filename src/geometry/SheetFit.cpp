#include "SheetFit.h"

#include "LeastSquares.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

namespace
{

// A basis of the plane across the axis.
void across(Vec3 d, Vec3 *e1, Vec3 *e2)
{
    const Vec3 seed = std::fabs(d.x) < 0.9 ? Vec3{1.0, 0.0, 0.0} : Vec3{0.0, 1.0, 0.0};
    *e1 = normalized(cross(d, seed));
    *e2 = cross(d, *e1);
}

Vec3 rotated(Vec3 v, Vec3 w)
{
    // Rodrigues: v turned about w by |w|.
    const double angle = norm(w);
    if (angle == 0.0)
        return v;
    const Vec3 k = (1.0 / angle) * w;
    return std::cos(angle) * v + std::sin(angle) * cross(k, v) +
           (1.0 - std::cos(angle)) * dot(k, v) * k;
}

// The model moved by a step of its six parameters: turns of the axis about
// two directions across it, shifts of its point along them, amplitude and
// zero.
SheetModel steppedSheets(const SheetModel &m, const double *step)
{
    Vec3 e1, e2;
    across(m.axisDirection, &e1, &e2);
    SheetModel s = m;
    s.axisDirection = normalized(rotated(m.axisDirection, step[0] * e1 + step[1] * e2));
    const Vec3 p = m.axisPoint + step[2] * e1 + step[3] * e2;
    s.axisPoint = p - dot(p, s.axisDirection) * s.axisDirection;
    s.amplitude = m.amplitude + step[4];
    s.zero = m.zero + step[5];
    return s;
}

void residuals(const SheetModel &m, const std::vector<SheetSample> &samples,
               const std::vector<quint8> &used, std::vector<double> &r)
{
    r.assign(samples.size(), 0.0);
    for (size_t i = 0; i < samples.size(); ++i)
        if (used[i])
            r[i] = m.positionOf(samples[i].point) - samples[i].u;
}

// Each sample lies on its sheet: with the projector's rows R1 (sideways)
// and R3 (forward) and its centre c, R1 (X - c) = t R3 (X - c), t = u X.
// Linear in (R1, R1 c, R3, R3 c); the smallest eigenvector of the normal
// matrix gives them up to scale.
bool firstGuess(const std::vector<SheetSample> &samples, double edge, SheetModel *m)
{
    double scale = 0.0;
    for (const SheetSample &s : samples)
        scale += norm(s.point);
    scale = scale / double(samples.size());
    if (!(scale > 0.0))
        return false;
    cv::Matx<double, 8, 8> normal = cv::Matx<double, 8, 8>::zeros();
    for (const SheetSample &s : samples) {
        const Vec3 p = (1.0 / scale) * s.point;
        const double t = s.u * edge;
        const double row[8] = {p.x, p.y, p.z, -1.0, -t * p.x, -t * p.y, -t * p.z, t};
        for (int a = 0; a < 8; ++a)
            for (int b = 0; b < 8; ++b)
                normal(a, b) += row[a] * row[b];
    }
    cv::Mat values, vectors;
    cv::eigen(cv::Mat(normal), values, vectors);
    const cv::Mat v = vectors.row(7); // eigenvalues descend
    Vec3 r1{v.at<double>(0), v.at<double>(1), v.at<double>(2)};
    Vec3 r3{v.at<double>(4), v.at<double>(5), v.at<double>(6)};
    double k1 = v.at<double>(3) * scale, k3 = v.at<double>(7) * scale;
    const double size = norm(r3);
    if (!(size > 0.0))
        return false;
    r1 = (1.0 / size) * r1;
    r3 = (1.0 / size) * r3;
    k1 /= size;
    k3 /= size;
    // The scene lies in front of the projector.
    double ahead = 0.0;
    for (const SheetSample &s : samples)
        ahead += dot(r3, s.point) - k3;
    if (ahead < 0.0) {
        r1 = -1.0 * r1;
        r3 = -1.0 * r3;
        k1 = -k1;
        k3 = -k3;
    }
    const Vec3 d = cross(r3, r1);
    if (!(norm(d) > 1e-6))
        return false;
    m->axisDirection = normalized(d);
    // The centre: the point in the span of R1 and R3 meeting both rows.
    const double a11 = dot(r1, r1), a12 = dot(r1, r3), a22 = dot(r3, r3);
    const double det = a11 * a22 - a12 * a12;
    if (!(std::fabs(det) > 1e-12))
        return false;
    const double alpha = (k1 * a22 - k3 * a12) / det, beta = (a11 * k3 - a12 * k1) / det;
    const Vec3 c = alpha * r1 + beta * r3;
    m->axisPoint = c - dot(c, m->axisDirection) * m->axisDirection;
    m->amplitude = 1.0;
    m->edgePosition = edge;
    m->zero = std::atan2(dot(r3, m->sideways()), dot(r3, m->reference()));
    return true;
}

bool levenbergMarquardt(const std::vector<SheetSample> &samples, const std::vector<quint8> &used,
                        SheetModel *model)
{
    LeastSquaresProblem problem;
    problem.differenceSteps = {1e-7, 1e-7, 1e-5, 1e-5, 1e-8, 1e-8};
    problem.residuals = [&](const std::vector<double> &step, std::vector<double> &r) {
        residuals(steppedSheets(*model, step.data()), samples, used, r);
    };
    problem.accept = [&](const std::vector<double> &step) {
        *model = steppedSheets(*model, step.data());
    };
    return std::isfinite(minimise(problem));
}

} // namespace

SheetFitResult fitSheets(const std::vector<SheetSample> &samples, double edgePosition)
{
    SheetFitResult result;
    if (samples.size() < 12) {
        result.error = QString("%1 corners with a projected position: too few to place the "
                               "light sheets")
                           .arg(samples.size());
        return result;
    }
    SheetModel m;
    if (!firstGuess(samples, edgePosition, &m)) {
        result.error = "the corners do not determine the light sheets (all at one depth, or "
                       "all on one sheet?)";
        return result;
    }
    std::vector<quint8> used(samples.size(), 1);
    levenbergMarquardt(samples, used, &m);

    // Outliers: a corner whose u was taken across a depth edge or a glint.
    std::vector<double> r;
    residuals(m, samples, used, r);
    std::vector<double> spread;
    for (double v : r)
        spread.push_back(std::fabs(v));
    std::nth_element(spread.begin(), spread.begin() + spread.size() / 2, spread.end());
    const double limit = std::max(8.0 * 1.4826 * spread[spread.size() / 2], 2e-4);
    size_t dropped = 0;
    for (size_t i = 0; i < r.size(); ++i)
        if (!(std::fabs(r[i]) <= limit)) {
            used[i] = 0;
            ++dropped;
        }
    if (dropped > 0)
        levenbergMarquardt(samples, used, &m);

    residuals(m, samples, std::vector<quint8>(samples.size(), 1), result.residual);
    double sum = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < samples.size(); ++i)
        if (used[i]) {
            sum += result.residual[i] * result.residual[i];
            ++count;
        }
    m.rmsU = count ? std::sqrt(sum / double(count)) : 0.0;
    result.model = m;
    result.used = used;
    result.rmsU = m.rmsU;
    result.ok = std::isfinite(m.rmsU);
    if (!result.ok)
        result.error = "the fit of the light sheets did not converge";
    return result;
}
