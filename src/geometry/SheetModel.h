#ifndef DVK_SHEETMODEL_H
#define DVK_SHEETMODEL_H

// The geometry of a camera watching the projector's light. The camera is a
// pinhole with radial (k1 k2 k3) and tangential (p1 p2) distortion, in the
// usual computer-vision frame: x right, y down, z forward, millimetres, the
// origin at the camera's centre.
//
// The mirror sweeps a laser line about its axis, so every projected
// position u lights one plane through that axis: the sheet. u is the tangent
// of the beam's deflection over the tangent at the window's edge, so the
// model's deflection is atan(u X) with X the scan model's edge position. A
// real mirror turns a little more or less and from a slightly different
// zero: its deflection is amplitude x the model's + zero. The sheet of u is
// then the half-plane from the axis at that angle from a reference
// direction.
//
// A turn of the whole projector about its axis moves every sheet by the
// same angle, exactly as the mirror's zero does: the two cannot be told
// apart, so the zero carries both, measured from the reference direction
// (the camera's forward direction made perpendicular to the axis). Where
// along the axis the projector sits is not seen either: every sheet holds
// the axis, so the model keeps only its point nearest the camera.

#include <QJsonObject>
#include <QString>

#include <array>
#include <vector>

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};
inline Vec3 operator+(Vec3 a, Vec3 b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(double s, Vec3 a)
{
    return {s * a.x, s * a.y, s * a.z};
}
inline double dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double norm(Vec3 a);
Vec3 normalized(Vec3 a);

struct CameraModel {
    int width = 0;
    int height = 0;
    double fx = 0.0, fy = 0.0, cx = 0.0, cy = 0.0;
    double skew = 0.0;                  // matrix(0, 1); 0 from our calibration
    std::array<double, 5> distortion{}; // k1 k2 p1 p2 k3
    double rmsPx = 0.0;

    // Normalised coordinates (x / z, y / z) of a point: the distortion
    // applied, then the matrix.
    void project(double xn, double yn, double *px, double *py) const;
    // The ray through pixel coordinates (px, py), as (x / z, y / z): the
    // distortion inverted by Newton's method, to far below a pixel's
    // thousandth within the image. False where it does not converge (far
    // outside the calibrated field).
    bool undistort(double px, double py, double *xn, double *yn) const;
};

struct SheetModel {
    double edgePosition = 1.0; // X of the scan model, tan of the edge deflection
    Vec3 axisPoint;            // the axis's point nearest the camera
    Vec3 axisDirection{0.0, 1.0, 0.0};
    double amplitude = 1.0; // a: deflection = a x model + zero
    double zero = 0.0;      // radians, from the reference direction
    double rmsU = 0.0;

    // The reference direction and its quarter turn about the axis, towards
    // which deflections grow.
    Vec3 reference() const;
    Vec3 sideways() const { return cross(axisDirection, reference()); }
    // The angle about the axis of the sheet of u, from the reference.
    double sheetAngle(double u) const;
    // The unit normal of the sheet of u (its plane holds axisPoint).
    Vec3 sheetNormal(double u) const;
    // The u whose sheet holds point p; NaN at the axis.
    double positionOf(Vec3 p) const;
};

// Sheet normals over u, sampled finely enough that linear interpolation is
// exact to far below the decoder's precision: the per-pixel work of
// reconstruction without a trigonometric call.
class SheetTable
{
public:
    explicit SheetTable(const SheetModel &model);
    Vec3 normal(float u) const;
    double offset(Vec3 n) const { return dot(n, point); } // n . p for points of the sheet

private:
    static constexpr double kStart = -1.25, kEnd = 1.25;
    static constexpr int kSize = 1 << 15;
    std::vector<Vec3> normals;
    double scale = 0.0;
    Vec3 point;
};

// CALIB.json's "camera" and "projector" objects, and back. A reader fails
// with a message naming the field that is missing or wrong.
QJsonObject cameraJson(const CameraModel &camera);
QJsonObject projectorJson(const SheetModel &model, int scanValue);
bool cameraFromJson(const QJsonObject &o, CameraModel *camera, QString *error);
bool projectorFromJson(const QJsonObject &o, SheetModel *model, int *scanValue, QString *error);

#endif
