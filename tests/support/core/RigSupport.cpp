#include "RigSupport.h"

#include <QDir>

#include <cmath>

RigSets rigSets(float scanValue)
{
    RigSets s;
    s.timing = computeScanTiming(scanValue);
    s.file = generatedFile(s.timing, {"gray:7", "phase:4x64", "dark", "light"});
    std::vector<CaptureSetRequest> requests;
    for (const QString &text : s.file.sets) {
        CaptureSetRequest r;
        QString why;
        if (!parseCaptureSetRequest(text, &r, &why))
            qFatal("bad set: %s", qPrintable(why));
        requests.push_back(r);
    }
    QString why;
    if (!planCaptureDecode(requests, &s.plan, &why))
        qFatal("sets refused: %s", qPrintable(why));
    return s;
}

RigScene rigScene(int width, int height)
{
    RigScene scene;
    const double scale = width / 640.0;
    scene.camera.width = width;
    scene.camera.height = height;
    scene.camera.fx = 900.0 * scale;
    scene.camera.fy = 905.0 * scale;
    scene.camera.cx = 0.5 * width + 2.0 * scale;
    scene.camera.cy = 0.5 * height - 5.0 * scale;
    scene.projector.amplitude = 1.012;
    scene.projector.zero = 0.006;
    scene.look.supersample = 2;
    scene.look.blurPixels = 0.7;
    scene.look.spotColumns = 0.5;
    scene.look.noise = 0.008;
    scene.look.ambient = 0.04;
    scene.look.exposure = 0.9;
    return scene;
}

CameraModel trueCamera(const RigScene &scene)
{
    const RigCamera &c = scene.camera;
    CameraModel m;
    m.width = c.width;
    m.height = c.height;
    m.fx = c.fx;
    m.fy = c.fy;
    m.cx = c.cx;
    m.cy = c.cy;
    m.distortion = c.distortion;
    return m;
}

SheetModel trueSheets(const RigScene &scene, const ScanTiming &timing)
{
    const RigProjector &p = scene.projector;
    SheetModel m;
    m.edgePosition = timing.edgePosition;
    m.axisDirection = normalized({p.axis.x, p.axis.y, p.axis.z});
    const Vec3 mirror{p.mirror.x, p.mirror.y, p.mirror.z};
    m.axisPoint = mirror - dot(mirror, m.axisDirection) * m.axisDirection;
    const Vec3 aim = Vec3{p.target.x, p.target.y, p.target.z} - mirror;
    const Vec3 forward = normalized(aim - dot(aim, m.axisDirection) * m.axisDirection);
    m.amplitude = p.amplitude;
    m.zero = p.zero + std::atan2(dot(forward, m.sideways()), dot(forward, m.reference()));
    return m;
}

DecodedPositions decodeRig(const RigSets &sets, const RigRender &render)
{
    const CaptureDecoder decoder(sets.plan, sets.timing);
    const RenderedCaptures &r = render.captures;
    return decoder.decode(r.planes(), r.width, r.height);
}

const float *lightOf(const RigSets &sets, const RigRender &render)
{
    const int c = sets.plan.captureOfPage(sets.plan.sets[size_t(sets.plan.light)].page);
    return render.captures.grey[size_t(c)].data();
}

DepthError depthError(const RigRender &render, const std::vector<float> &depth)
{
    const RenderedCaptures &r = render.captures;
    DepthError e;
    double sum = 0.0;
    qint64 counted = 0, measured = 0;
    for (size_t i = 0; i < depth.size(); ++i) {
        if (r.nearEdge[i])
            continue;
        if (r.shadowed[i]) {
            ++e.shadowPixels;
            e.shadowMeasured += std::isfinite(depth[i]);
        }
        if (!r.lit[i])
            continue;
        ++counted;
        if (!std::isfinite(depth[i]))
            continue;
        ++measured;
        const double rel = (double(depth[i]) - render.depth[i]) / render.depth[i];
        sum += rel * rel;
    }
    e.rmsPercent = measured ? 100.0 * std::sqrt(sum / double(measured)) : 0.0;
    e.coverage = counted ? double(measured) / double(counted) : 0.0;
    return e;
}

void writeRigCaptures(const RigRender &render, const QString &folder)
{
    QDir().mkpath(folder);
    for (size_t p = 0; p < render.captures.grey.size(); ++p)
        render.captures.image(int(p)).save(
            QDir(folder).filePath(QString("capture%1.png").arg(p + 1, 2, 10, QChar('0'))));
}

std::vector<RigObject> rigTestScene()
{
    RigObject plane;
    plane.kind = RigObject::Plane;
    plane.a = {0.0, 0.0, 780.0};
    plane.b = {0.15, -0.1, -1.0};
    plane.albedo = 0.7;
    RigObject sphere;
    sphere.kind = RigObject::Sphere;
    sphere.a = {-40.0, 10.0, 620.0};
    sphere.radius = 45.0;
    RigObject box;
    box.kind = RigObject::Box;
    box.a = {60.0, -200.0, 690.0};
    box.b = {400.0, -40.0, 800.0};
    box.albedo = 0.6;
    return {plane, sphere, box};
}
