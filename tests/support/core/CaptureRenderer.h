#ifndef DVK_CAPTURERENDERER_H
#define DVK_CAPTURERENDERER_H

// Camera captures of projected pages, for testing the decoder against a known
// truth. The projector sits at the origin looking along +z and lights the
// plane of points with x / z = u X with what page value the scan model plays
// at u; the pattern does not vary along y. A pinhole camera beside it looks at
// a tilted plane with a raised step, textured, in ambient light. The laser
// spot's width, lens blur, camera gamma, noise, an occluder's shadow and a
// patch bright enough to saturate are all under the test's control.

#include "patterns/ScanTiming.h"

#include <QImage>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <vector>

struct CaptureScene {
    int width = 320;
    int height = 256;
    int supersample = 3; // rays per pixel along each axis
    // Share of the projected window's width the camera sees at the plane.
    double viewShare = 0.8;
    // Where in the window the view is centred, in u.
    double viewCentre = 0.0;
    double distance = 1.0;  // of the plane on the projector's axis
    double baseline = 0.25; // camera left of the projector
    double slopeX = 0.3;    // dz / dx of the plane
    double slopeY = 0.15;   // dz / dy
    // A step: the plane is raised towards the camera by stepHeight where
    // x is beyond stepX (in u of the plane's centre line), and the wall
    // between the two is seen from the camera's side.
    bool step = true;
    double stepU = 0.3;
    double stepHeight = 0.06;
    // Albedo texture between these, smooth over a few cycles across the view.
    double albedoMin = 0.5;
    double albedoMax = 1.0;
    double ambient = 0.04;    // light reaching albedo 1 without the projector
    double exposure = 0.85;   // full projector light on albedo 1
    double spotColumns = 0.5; // standard deviation of the laser spot, columns
    double blurPixels = 1.0;  // standard deviation of the lens blur, pixels
    double gamma = 1.0;       // camera gamma: output = input^(1 / gamma)
    double noise = 0.01;      // standard deviation, share of full scale
    // A real sensor's shot noise: variance shotNoise x the level, on top.
    double shotNoise = 0.0;
    // A dark object: albedo falls to darkAlbedo times its own beyond
    // darkU (in u), over a soft edge darkEdge wide; 1 for none.
    double darkAlbedo = 1.0;
    double darkU = 0.0;
    double darkEdge = 0.02;
    // An occluder in front of the projector shadows the directions
    // u in [shadowU0, shadowU1], v = y / z in [shadowV0, shadowV1].
    bool shadow = true;
    double shadowU0 = -0.55, shadowU1 = -0.35;
    double shadowV0 = -0.2, shadowV1 = 0.0;
    // A patch on the surface four times as bright: it saturates when lit.
    bool saturatedPatch = true;
    double patchU0 = 0.45, patchU1 = 0.6;
    double patchV0 = 0.05, patchV1 = 0.15;
    int bits = 8; // 8 or 16
    quint32 seed = 1;
};

struct RenderedCaptures {
    int width = 0;
    int height = 0;
    // Per page, grey values as shares of full scale, quantised to the depth.
    std::vector<std::vector<float>> grey;
    std::vector<float> truth; // u at each pixel's centre
    // Pixels lit by the projector inside its window, with no shadow and no
    // saturating patch among their rays.
    std::vector<quint8> lit;
    std::vector<quint8> shadowed; // any ray in the occluder's shadow
    std::vector<quint8> patch;    // any ray on the saturating patch
    std::vector<quint8> nearEdge; // within two pixels of a depth edge

    std::vector<const float *> planes() const;
    QImage image(int page) const; // Grayscale8 or Grayscale16
    int bits = 8;
};

// Renders one capture per page; each page is kSamplesPerPage values laid out
// across the window by the scan model.
RenderedCaptures renderCaptures(const CaptureScene &scene, const ScanTiming &timing,
                                const std::vector<std::vector<int>> &pages);

// A pattern file of generated sets, given as "gray:6", "phase:4x32",
// "square:32", "dark" or "light" and laid out from page 1 on in that order:
// its pages and the sets naming them ("gray:6@1", "phase:4x32@7", ...).
struct GeneratedFile {
    std::vector<std::vector<int>> pages;
    QStringList sets;
};
GeneratedFile generatedFile(const ScanTiming &timing, const QStringList &kinds);

// Decoded positions against the truth, over the valid pixels lit by the
// projector away from depth edges and edges of the light.
struct CaptureAccuracy {
    double rmsColumns = 0.0; // in projector columns, 2 / 1024 of u
    double withinHalf = 0.0; // share within half a period (or stripe)
    qint64 wholePeriods = 0; // off by a period or more
    double validOfLit = 0.0; // share of the lit pixels that are valid
    qint64 shadowPixels = 0; // well inside the shadow ...
    qint64 shadowValid = 0;  // ... and of those valid
    qint64 patchPixels = 0;  // well inside the saturating patch ...
    qint64 patchValid = 0;
};
CaptureAccuracy captureAccuracy(const RenderedCaptures &r, const std::vector<float> &position,
                                const std::vector<quint8> &valid, double period);

// Share of the valid pixels lit by the projector whose decoded position
// lies in another Gray stripe than the truth: the code words of `gray` (its
// pages) at both places differ.
double wrongStripeShare(const RenderedCaptures &r, const ScanTiming &timing,
                        const std::vector<std::vector<int>> &gray,
                        const std::vector<float> &position, const std::vector<quint8> &valid);

#endif

// A rig in 3-D, in the camera's frame (x right, y down, z forward, mm): a
// camera with lens distortion at the origin and the projector's mirror
// beside it, sweeping sheets about its axis; boards, planes, spheres and
// boxes before them. The truth per pixel is its depth and projected
// position; the projector's light is shadowed by whatever lies between the
// mirror and a surface.
struct RigVec {
    double x = 0.0, y = 0.0, z = 0.0;
};

struct RigCamera {
    int width = 640;
    int height = 512;
    double fx = 900.0, fy = 905.0, cx = 322.0, cy = 251.0;
    std::array<double, 5> distortion{{-0.15, 0.12, 0.0008, -0.0005, 0.0}}; // k1 k2 p1 p2 k3
};

struct RigProjector {
    RigVec mirror{200.0, 0.0, 0.0}; // the beams leave the axis here
    RigVec axis{0.0, 1.0, 0.0};     // sheets turn about it; deflection grows towards axis x forward
    RigVec target{0.0, 0.0, 675.0}; // the undeflected beam points here
    double amplitude = 1.0;         // real deflection = amplitude x model's + zero
    double zero = 0.0;              // radians
};

struct RigObject {
    enum Kind { Plane, Sphere, Box, Board } kind = Plane;
    RigVec a;      // Plane, Board: a point (Board: corner 0); Sphere: centre; Box: low corner
    RigVec b;      // Plane: normal; Box: high corner
    RigVec bx, by; // Board: unit directions of its rows and columns
    double radius = 0.0;
    int cols = 9, rows = 6; // Board: inner corners
    double square = 25.0;   // Board: mm
    double albedo = 0.8;
};

struct RigScene {
    RigCamera camera;
    RigProjector projector;
    std::vector<RigObject> objects;
    CaptureScene look; // spot, blur, exposure, noise, bits ...; its geometry unused
};

struct RigRender {
    RenderedCaptures captures; // truth: u at each pixel's centre
    std::vector<float> depth;  // z at each pixel's centre, NaN where nothing is hit
};

RigRender renderRig(const RigScene &scene, const ScanTiming &timing,
                    const std::vector<std::vector<int>> &pages);

// A board of cols x rows inner corners at `distance` on the camera's axis,
// turned by `tiltX` and `tiltY` degrees, shifted by (dx, dy) mm.
RigObject boardAt(double distance, double tiltX, double tiltY, double dx = 0.0, double dy = 0.0,
                  int cols = 9, int rows = 6, double square = 25.0);
// Eight board poses between 550 and 800 mm, tilted up to 30 degrees.
std::vector<RigObject> eightBoardPoses();
