#include "CaptureRenderer.h"

#include "patterns/Generators.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>

namespace
{

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(double s, Vec a)
{
    return {s * a.x, s * a.y, s * a.z};
}
Vec normalized(Vec a)
{
    const double n = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return {a.x / n, a.y / n, a.z / n};
}

// What one camera ray meets.
struct Hit {
    double u = 0.0; // projected position
    double v = 0.0; // y / z seen from the projector
    double albedo = 0.0;
    int surface = 0; // 0 plane, 1 step top, 2 wall
    bool shadowed = false;
    bool patch = false;
};

class Scene
{
public:
    Scene(const CaptureScene &s, const ScanTiming &t) : s(s), edge(t.edgePosition)
    {
        // The plane's point on the projector's axis is the camera's target.
        camera = {-s.baseline, 0.0, 0.0};
        const Vec target = {edge * s.distance * s.viewCentre, 0.0, s.distance};
        forward = normalized(target + (-1.0) * camera);
        right = normalized({forward.z, 0.0, -forward.x});
        down = {forward.y * right.z - forward.z * right.y,
                forward.z * right.x - forward.x * right.z,
                forward.x * right.y - forward.y * right.x};
        const double range =
            std::sqrt((target.x - camera.x) * (target.x - camera.x) + target.z * target.z);
        focal = 0.5 * s.width / (s.viewShare * edge * s.distance / range);
        stepX = s.stepU * edge * s.distance;
    }

    Hit trace(double px, double py) const
    {
        const Vec d = forward + ((px - 0.5 * s.width) / focal) * right +
                      ((py - 0.5 * s.height) / focal) * down;
        Hit h;
        Vec p;
        auto onPlane = [&](double lift) {
            // z = distance + slopeX x + slopeY y - lift
            const double num =
                s.distance - lift + s.slopeX * camera.x + s.slopeY * camera.y - camera.z;
            const double den = d.z - s.slopeX * d.x - s.slopeY * d.y;
            return camera + (num / den) * d;
        };
        p = onPlane(0.0);
        h.surface = 0;
        if (s.step) {
            const Vec top = onPlane(s.stepHeight);
            if (top.x > stepX) {
                p = top;
                h.surface = 1;
            } else if (p.x > stepX) {
                // between the two: the wall x = stepX
                p = camera + ((stepX - camera.x) / d.x) * d;
                h.surface = 2;
            }
        }
        h.u = p.x / (p.z * edge);
        h.v = p.y / p.z;
        const double wx = 9.0 * p.x / edge, wy = 9.0 * p.y / edge;
        const double texture = 0.5 + 0.25 * std::sin(1.3 * wx + 0.7) * std::sin(1.1 * wy + 0.3) +
                               0.25 * std::sin(0.6 * (wx + wy) + 1.9);
        h.albedo = s.albedoMin + (s.albedoMax - s.albedoMin) * std::clamp(texture, 0.0, 1.0);
        h.shadowed = s.shadow && h.u >= s.shadowU0 && h.u <= s.shadowU1 && h.v >= s.shadowV0 &&
                     h.v <= s.shadowV1;
        h.patch = s.saturatedPatch && h.u >= s.patchU0 && h.u <= s.patchU1 && h.v >= s.patchV0 &&
                  h.v <= s.patchV1;
        if (h.patch)
            h.albedo *= 4.0;
        if (s.darkAlbedo != 1.0) {
            const double f = std::clamp((h.u - s.darkU) / s.darkEdge + 0.5, 0.0, 1.0);
            h.albedo *= 1.0 + f * (s.darkAlbedo - 1.0);
        }
        return h;
    }

private:
    const CaptureScene &s;
    double edge;
    Vec camera, forward, right, down;
    double focal;
    double stepX;
};

// A page as the projector lights it: value of the cell at u, spread by the
// laser spot, on a fine table over u.
class PageProfile
{
public:
    static constexpr double kStart = -1.1;
    static constexpr double kEnd = 1.1;
    static constexpr int kSize = 16384;

    PageProfile(const std::vector<int> &values, const std::vector<double> &edges, double sigma)
        : table(kSize)
    {
        const double step = (kEnd - kStart) / (kSize - 1);
        for (int k = 0; k < kSize; ++k) {
            const double u = kStart + k * step;
            double sum = 0.0;
            if (sigma <= 0.0) {
                const auto it = std::upper_bound(edges.begin(), edges.end(), u);
                const int i = int(it - edges.begin()) - 1;
                if (i >= 0 && i < int(values.size()) && i < kSamplesPerPage)
                    sum = values[size_t(i)] / 255.0;
            } else {
                const auto first = std::upper_bound(edges.begin(), edges.end(), u - 6 * sigma);
                int i = std::max(int(first - edges.begin()) - 1, 0);
                for (; i < kSamplesPerPage && i < int(values.size()); ++i) {
                    const double a = edges[size_t(i)], b = edges[size_t(i) + 1];
                    if (a > u + 6 * sigma)
                        break;
                    const double w = 0.5 * (std::erf((b - u) / (sigma * std::sqrt(2.0))) -
                                            std::erf((a - u) / (sigma * std::sqrt(2.0))));
                    sum += w * values[size_t(i)] / 255.0;
                }
            }
            table[size_t(k)] = float(sum);
        }
    }

    double at(double u) const
    {
        const double k = (u - kStart) / (kEnd - kStart) * (kSize - 1);
        if (k <= 0.0 || k >= kSize - 1)
            return 0.0;
        const int i = int(k);
        const double f = k - i;
        return table[size_t(i)] + f * (table[size_t(i) + 1] - table[size_t(i)]);
    }

private:
    std::vector<float> table;
};

void blur(std::vector<double> &image, int w, int h, double sigma)
{
    if (sigma <= 0.0)
        return;
    const int radius = int(std::ceil(3.5 * sigma));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double total = 0.0;
    for (int k = -radius; k <= radius; ++k)
        total += kernel[size_t(k + radius)] = std::exp(-0.5 * k * k / (sigma * sigma));
    for (double &k : kernel)
        k /= total;
    std::vector<double> tmp(image.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (int k = -radius; k <= radius; ++k)
                sum += kernel[size_t(k + radius)] *
                       image[size_t(y) * size_t(w) + size_t(std::clamp(x + k, 0, w - 1))];
            tmp[size_t(y) * size_t(w) + size_t(x)] = sum;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (int k = -radius; k <= radius; ++k)
                sum += kernel[size_t(k + radius)] *
                       tmp[size_t(std::clamp(y + k, 0, h - 1)) * size_t(w) + size_t(x)];
            image[size_t(y) * size_t(w) + size_t(x)] = sum;
        }
}

// Each page as the camera takes it: the light of every ray's hit, averaged
// over the pixel, blurred by the lens, through the camera's gamma, noise
// and quantisation. s is the scene with its margin, r the cut image.
void shadePages(const CaptureScene &s, const ScanTiming &timing,
                const std::vector<std::vector<int>> &pages, const std::vector<Hit> &hits,
                size_t rays, int margin, RenderedCaptures &r)
{
    const size_t count = size_t(s.width) * size_t(s.height);
    const size_t out = size_t(r.width) * size_t(r.height);
    auto big_index = [&](int x, int y) {
        return size_t(y + margin) * size_t(s.width) + size_t(x + margin);
    };
    std::vector<double> edges = sampleCellEdges(timing);
    for (double &e : edges)
        e /= timing.edgePosition;
    const double sigma = s.spotColumns * 2.0 / kSamplesPerPage;
    std::mt19937 random(s.seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double full = s.bits == 16 ? 65535.0 : 255.0;
    for (const std::vector<int> &page : pages) {
        const PageProfile profile(page, edges, sigma);
        std::vector<double> image(count);
        for (size_t i = 0; i < count; ++i) {
            double sum = 0.0;
            for (size_t k = 0; k < rays; ++k) {
                const Hit &h = hits[i * rays + k];
                const double light =
                    (h.shadowed || std::fabs(h.v) >= 0.5) ? 0.0 : s.exposure * profile.at(h.u);
                sum += h.albedo * (s.ambient + light);
            }
            image[i] = sum / double(rays);
        }
        blur(image, s.width, s.height, s.blurPixels);
        std::vector<float> grey(out);
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) {
                double v = std::pow(std::max(image[big_index(x, y)], 0.0), 1.0 / s.gamma);
                v += std::sqrt(s.noise * s.noise + s.shotNoise * v) * gauss(random);
                v = std::clamp(v, 0.0, 1.0);
                grey[size_t(y) * size_t(r.width) + size_t(x)] = float(std::round(v * full) / full);
            }
        r.grey.push_back(std::move(grey));
    }
}

} // namespace

std::vector<const float *> RenderedCaptures::planes() const
{
    std::vector<const float *> list;
    for (const std::vector<float> &g : grey)
        list.push_back(g.data());
    return list;
}

QImage RenderedCaptures::image(int page) const
{
    const std::vector<float> &g = grey[size_t(page)];
    QImage img(width, height, bits == 16 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar *line = img.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const float v = g[size_t(y) * size_t(width) + size_t(x)];
            if (bits == 16)
                reinterpret_cast<quint16 *>(line)[x] = quint16(std::lround(v * 65535.0f));
            else
                line[x] = uchar(std::lround(v * 255.0f));
        }
    }
    return img;
}

RenderedCaptures renderCaptures(const CaptureScene &scene, const ScanTiming &timing,
                                const std::vector<std::vector<int>> &pages)
{
    // Rendered with a margin, so that the blur near the image's border sees
    // the scene beyond it as a real lens does, then cut to size.
    const int margin = int(std::ceil(4.0 * scene.blurPixels)) + 4;
    CaptureScene s = scene;
    s.width += 2 * margin;
    s.height += 2 * margin;
    const size_t count = size_t(s.width) * size_t(s.height);
    const int n = s.supersample;
    const size_t rays = size_t(n) * size_t(n);

    // The camera's geometry is that of the uncut image: trace around it.
    const Scene world(scene, timing);
    std::vector<Hit> hits(count * rays);
    std::vector<int> surface(count);
    std::vector<float> truth(count);
    std::vector<quint8> lit(count, 0), shadowed(count, 0), patch(count, 0), mixed(count, 0);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const size_t i = size_t(y) * size_t(s.width) + size_t(x);
            const double px = x - margin, py = y - margin;
            const Hit centre = world.trace(px + 0.5, py + 0.5);
            truth[i] = float(centre.u);
            surface[i] = centre.surface;
            // Whether the rays of the pixel disagree about what they meet
            // or how it is lit.
            bool inside = true, outside = true, anyShadow = false, allShadow = true;
            bool anyPatch = false, allPatch = true;
            for (int a = 0; a < n; ++a)
                for (int b = 0; b < n; ++b) {
                    const Hit h = world.trace(px + (b + 0.5) / n, py + (a + 0.5) / n);
                    hits[i * rays + size_t(a * n + b)] = h;
                    const bool in = std::fabs(h.u) < 1.0 && std::fabs(h.v) < 0.5;
                    inside = inside && in;
                    outside = outside && !in;
                    anyShadow = anyShadow || h.shadowed;
                    allShadow = allShadow && h.shadowed;
                    anyPatch = anyPatch || h.patch;
                    allPatch = allPatch && h.patch;
                    mixed[i] |= h.surface != centre.surface;
                }
            shadowed[i] = anyShadow;
            patch[i] = anyPatch;
            lit[i] = inside && !anyShadow && !anyPatch;
            mixed[i] |= !(inside || outside) || anyShadow != allShadow || anyPatch != allPatch;
        }

    RenderedCaptures r;
    r.width = scene.width;
    r.height = scene.height;
    r.bits = scene.bits;
    const size_t out = size_t(r.width) * size_t(r.height);
    r.truth.resize(out);
    r.lit.resize(out);
    r.shadowed.resize(out);
    r.patch.resize(out);
    r.nearEdge.assign(out, 0);
    const int reach = std::max(2, int(std::ceil(3.0 * scene.blurPixels)));
    auto big_index = [&](int x, int y) {
        return size_t(y + margin) * size_t(s.width) + size_t(x + margin);
    };
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const size_t i = size_t(y) * size_t(r.width) + size_t(x);
            const size_t b = big_index(x, y);
            r.truth[i] = truth[b];
            r.lit[i] = lit[b];
            r.shadowed[i] = shadowed[b];
            r.patch[i] = patch[b];
            // Near a depth edge or an edge of the light: within two pixels
            // and the reach of the blur.
            bool edge = false;
            for (int dy = -reach; dy <= reach && !edge; ++dy)
                for (int dx = -reach; dx <= reach && !edge; ++dx) {
                    const size_t j = big_index(x + dx, y + dy);
                    edge = mixed[j] || surface[j] != surface[b] || lit[j] != lit[b];
                }
            r.nearEdge[i] = edge;
        }

    shadePages(s, timing, pages, hits, rays, margin, r);
    return r;
}

GeneratedFile generatedFile(const ScanTiming &t, const QStringList &kinds)
{
    GeneratedFile f;
    for (const QString &kind : kinds) {
        const QStringList parts = kind.split(':');
        PatternRun run;
        if (parts[0] == "gray")
            run = grayCodePatterns(t, parts[1].toInt());
        else if (parts[0] == "phase")
            run = phaseShiftPatterns(t, parts[1].section('x', 0, 0).toInt(),
                                     parts[1].section('x', 1, 1).toInt());
        else if (parts[0] == "square")
            run = squareWavePatterns(t, parts[1].toInt());
        else
            run = fixedPattern(parts[0] == "dark" ? 0 : 255);
        f.sets << QString("%1@%2").arg(kind).arg(f.pages.size() + 1);
        for (int p = 0; p < run.patternCount; ++p)
            f.pages.emplace_back(run.values.begin() + p * kSamplesPerPage,
                                 run.values.begin() + (p + 1) * kSamplesPerPage);
    }
    return f;
}

CaptureAccuracy captureAccuracy(const RenderedCaptures &r, const std::vector<float> &position,
                                const std::vector<quint8> &valid, double period)
{
    CaptureAccuracy a;
    qint64 lit = 0, litValid = 0, measured = 0, within = 0;
    double sum = 0.0;
    for (size_t i = 0; i < r.truth.size(); ++i) {
        if (r.nearEdge[i])
            continue;
        if (r.shadowed[i]) {
            ++a.shadowPixels;
            a.shadowValid += valid[i];
        }
        if (r.patch[i]) {
            ++a.patchPixels;
            a.patchValid += valid[i];
        }
        if (!r.lit[i])
            continue;
        ++lit;
        if (!valid[i])
            continue;
        ++litValid;
        const double e = double(position[i]) - double(r.truth[i]);
        sum += e * e;
        ++measured;
        within += std::fabs(e) <= 0.5 * period;
        a.wholePeriods += std::fabs(e) >= period;
    }
    const double column = 2.0 / kSamplesPerPage;
    a.rmsColumns = measured ? std::sqrt(sum / double(measured)) / column : 0.0;
    a.withinHalf = measured ? double(within) / double(measured) : 0.0;
    a.validOfLit = lit ? double(litValid) / double(lit) : 0.0;
    return a;
}

double wrongStripeShare(const RenderedCaptures &r, const ScanTiming &timing,
                        const std::vector<std::vector<int>> &gray,
                        const std::vector<float> &position, const std::vector<quint8> &valid)
{
    std::vector<double> edges = sampleCellEdges(timing);
    for (double &e : edges)
        e /= timing.edgePosition;
    auto code = [&](double u) {
        const int cell =
            std::clamp(int(std::upper_bound(edges.begin(), edges.end(), u) - edges.begin()) - 1, 0,
                       kSamplesPerPage - 1);
        int word = 0;
        for (const std::vector<int> &page : gray)
            word = word * 2 + (page[size_t(cell)] > 127);
        return word;
    };
    qint64 counted = 0, wrong = 0;
    for (size_t i = 0; i < r.truth.size(); ++i) {
        if (!r.lit[i] || !valid[i])
            continue;
        ++counted;
        wrong += code(r.truth[i]) != code(position[i]);
    }
    return counted ? double(wrong) / double(counted) : 0.0;
}

namespace
{

Vec vec(RigVec v)
{
    return {v.x, v.y, v.z};
}
Vec minus(Vec a, Vec b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double dotOf(Vec a, Vec b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec crossOf(Vec a, Vec b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

class Rig
{
public:
    Rig(const RigScene &s, double edge) : s(s), edge(edge)
    {
        axis = normalized(vec(s.projector.axis));
        mirror = vec(s.projector.mirror);
        const Vec aim = minus(vec(s.projector.target), mirror);
        forward = normalized(minus(aim, dotOf(aim, axis) * axis));
        right = crossOf(axis, forward);
    }

    // The nearest hit along o + t d for t in (low, high): its object and t.
    int nearest(Vec o, Vec d, double low, double high, double *tHit, double *albedo) const
    {
        int found = -1;
        for (size_t k = 0; k < s.objects.size(); ++k) {
            double t = 0.0, a = 0.0;
            if (hit(s.objects[k], o, d, &t, &a) && t > low && t < high) {
                high = t;
                found = int(k);
                *tHit = t;
                *albedo = a;
            }
        }
        return found;
    }

    // Fixed-point inversion of the lens: a different method from the
    // product's, so that the two cannot share a mistake.
    Vec ray(double px, double py) const
    {
        const RigCamera &c = s.camera;
        const double xd = (px - c.cx) / c.fx, yd = (py - c.cy) / c.fy;
        const double k1 = c.distortion[0], k2 = c.distortion[1], p1 = c.distortion[2],
                     p2 = c.distortion[3], k3 = c.distortion[4];
        double x = xd, y = yd;
        for (int i = 0; i < 200; ++i) {
            const double r2 = x * x + y * y;
            const double radial = 1.0 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
            const double tx = 2.0 * p1 * x * y + p2 * (r2 + 2.0 * x * x);
            const double ty = p1 * (r2 + 2.0 * y * y) + 2.0 * p2 * x * y;
            x = (xd - tx) / radial;
            y = (yd - ty) / radial;
        }
        return {x, y, 1.0};
    }

    Hit trace(double px, double py, int *object, double *depth) const
    {
        Hit h;
        h.v = 1.0; // unlit unless the projector reaches it
        const Vec d = ray(px, py);
        double t = 0.0, albedo = 0.0;
        *object = nearest({0.0, 0.0, 0.0}, d, 1e-6, 1e12, &t, &albedo);
        *depth = std::numeric_limits<double>::quiet_NaN();
        if (*object < 0)
            return h;
        const Vec p = t * d;
        *depth = p.z;
        h.albedo = albedo;
        h.surface = *object;
        const Vec w = minus(p, mirror);
        const double across = dotOf(w, right), along = dotOf(w, forward);
        if (along <= 0.0)
            return h;
        const double psi = std::atan2(across, along);
        h.u = std::tan((psi - s.projector.zero) / s.projector.amplitude) / edge;
        h.v = dotOf(w, axis) / std::hypot(across, along);
        double tb = 0.0, ab = 0.0;
        h.shadowed = nearest(mirror, w, 1e-9, 1.0 - 1e-6, &tb, &ab) >= 0;
        return h;
    }

private:
    static bool hit(const RigObject &o, Vec org, Vec d, double *t, double *albedo)
    {
        switch (o.kind) {
        case RigObject::Plane:
        case RigObject::Board: {
            const Vec n = o.kind == RigObject::Plane ? vec(o.b) : crossOf(vec(o.bx), vec(o.by));
            const double den = dotOf(n, d);
            if (den == 0.0)
                return false;
            *t = dotOf(n, minus(vec(o.a), org)) / den;
            *albedo = o.albedo;
            if (o.kind == RigObject::Plane)
                return true;
            const Vec q = minus(org + *t * d, vec(o.a));
            const int i = int(std::floor(dotOf(q, vec(o.bx)) / o.square));
            const int j = int(std::floor(dotOf(q, vec(o.by)) / o.square));
            if (i < -2 || j < -2 || i > o.cols || j > o.rows)
                return false; // off the board
            const bool printed = i >= -1 && j >= -1 && i < o.cols && j < o.rows;
            *albedo = printed && ((i + j) & 1) == 0 ? 0.03 : 0.85;
            return true;
        }
        case RigObject::Sphere: {
            const Vec m = minus(org, vec(o.a));
            const double b = dotOf(m, d), a = dotOf(d, d), c = dotOf(m, m) - o.radius * o.radius;
            const double disc = b * b - a * c;
            if (disc < 0.0)
                return false;
            *t = (-b - std::sqrt(disc)) / a;
            *albedo = o.albedo;
            return true;
        }
        case RigObject::Box: {
            const double lo[3] = {o.a.x, o.a.y, o.a.z}, hi[3] = {o.b.x, o.b.y, o.b.z};
            const double so[3] = {org.x, org.y, org.z}, sd[3] = {d.x, d.y, d.z};
            double enter = -1e300, leave = 1e300;
            for (int k = 0; k < 3; ++k) {
                if (sd[k] == 0.0) {
                    if (so[k] < lo[k] || so[k] > hi[k])
                        return false;
                    continue;
                }
                double t0 = (lo[k] - so[k]) / sd[k], t1 = (hi[k] - so[k]) / sd[k];
                if (t0 > t1)
                    std::swap(t0, t1);
                enter = std::max(enter, t0);
                leave = std::min(leave, t1);
            }
            if (enter > leave)
                return false;
            *t = enter;
            *albedo = o.albedo;
            return true;
        }
        }
        return false;
    }

    const RigScene &s;
    double edge;
    Vec axis, mirror, forward, right;
};

} // namespace

RigRender renderRig(const RigScene &scene, const ScanTiming &timing,
                    const std::vector<std::vector<int>> &pages)
{
    const int margin = int(std::ceil(4.0 * scene.look.blurPixels)) + 4;
    CaptureScene s = scene.look;
    s.width = scene.camera.width + 2 * margin;
    s.height = scene.camera.height + 2 * margin;
    const size_t count = size_t(s.width) * size_t(s.height);
    const int n = s.supersample;
    const size_t rays = size_t(n) * size_t(n);
    const Rig rig(scene, timing.edgePosition);

    std::vector<Hit> hits(count * rays);
    std::vector<float> truth(count), depth(count);
    std::vector<int> object(count);
    std::vector<quint8> lit(count), shadowed(count), mixed(count, 0);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const size_t i = size_t(y) * size_t(s.width) + size_t(x);
            // Pixel centres at whole coordinates, as the camera model has them.
            const double px = x - margin, py = y - margin;
            double z = 0.0;
            const Hit centre = rig.trace(px, py, &object[i], &z);
            truth[i] = float(centre.u);
            depth[i] = float(z);
            bool allLit = true, anyLit = false, anyShadow = false;
            for (int a = 0; a < n; ++a)
                for (int b = 0; b < n; ++b) {
                    int o = 0;
                    const Hit h =
                        rig.trace(px - 0.5 + (b + 0.5) / n, py - 0.5 + (a + 0.5) / n, &o, &z);
                    hits[i * rays + size_t(a * n + b)] = h;
                    const bool in =
                        o >= 0 && std::fabs(h.u) < 1.0 && std::fabs(h.v) < 0.5 && !h.shadowed;
                    allLit = allLit && in;
                    anyLit = anyLit || in;
                    anyShadow = anyShadow || h.shadowed;
                    mixed[i] |= o != object[i];
                }
            lit[i] = allLit;
            shadowed[i] = anyShadow;
            mixed[i] |= allLit != anyLit;
        }

    RigRender out;
    RenderedCaptures &r = out.captures;
    r.width = scene.camera.width;
    r.height = scene.camera.height;
    r.bits = s.bits;
    const size_t size = size_t(r.width) * size_t(r.height);
    r.truth.resize(size);
    r.lit.resize(size);
    r.shadowed.resize(size);
    r.patch.assign(size, 0);
    r.nearEdge.assign(size, 0);
    out.depth.resize(size);
    const int reach = std::max(2, int(std::ceil(3.0 * s.blurPixels)));
    auto big = [&](int x, int y) {
        return size_t(y + margin) * size_t(s.width) + size_t(x + margin);
    };
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const size_t i = size_t(y) * size_t(r.width) + size_t(x);
            const size_t b = big(x, y);
            r.truth[i] = truth[b];
            out.depth[i] = depth[b];
            r.lit[i] = lit[b];
            r.shadowed[i] = shadowed[b];
            bool edge = false;
            for (int dy = -reach; dy <= reach && !edge; ++dy)
                for (int dx = -reach; dx <= reach && !edge; ++dx) {
                    const size_t j = big(x + dx, y + dy);
                    edge = mixed[j] || object[j] != object[b] || lit[j] != lit[b];
                }
            r.nearEdge[i] = edge;
        }
    shadePages(s, timing, pages, hits, rays, margin, r);
    return out;
}

RigObject boardAt(double distance, double tiltX, double tiltY, double dx, double dy, int cols,
                  int rows, double square)
{
    const double degree = std::acos(-1.0) / 180.0;
    const double ax = tiltX * degree, ay = tiltY * degree;
    // Turned about x, then about y.
    const Vec ex{std::cos(ay), 0.0, -std::sin(ay)};
    const Vec ey{std::sin(ay) * std::sin(ax), std::cos(ax), std::cos(ay) * std::sin(ax)};
    const Vec centre{dx, dy, distance};
    const Vec corner =
        centre + (-0.5 * (cols - 1) * square) * ex + (-0.5 * (rows - 1) * square) * ey;
    RigObject o;
    o.kind = RigObject::Board;
    o.a = {corner.x, corner.y, corner.z};
    o.bx = {ex.x, ex.y, ex.z};
    o.by = {ey.x, ey.y, ey.z};
    o.cols = cols;
    o.rows = rows;
    o.square = square;
    return o;
}

std::vector<RigObject> eightBoardPoses()
{
    // Spread over the view so that the lens's distortion is seen to its corners.
    return {boardAt(560, 20, -15, -75, 55), boardAt(600, -25, 10, 80, -55),
            boardAt(640, 10, 30, 85, 60),   boardAt(680, -10, -28, -90, -60),
            boardAt(720, 28, 5, 0, 0),      boardAt(750, -18, 22, -100, 70),
            boardAt(780, 5, -20, 110, -70), boardAt(800, -30, -8, 0, 75)};
}
