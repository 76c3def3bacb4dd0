#include "BoardCalibration.h"

#include "SheetFit.h"

#include "analysis/CaptureDecoder.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct BoardPose {
    cv::Matx33d rotation;
    cv::Vec3d translation;
    Vec3 toCamera(double bx, double by) const
    {
        const cv::Vec3d p = rotation * cv::Vec3d(bx, by, 0.0) + translation;
        return {p[0], p[1], p[2]};
    }
};

bool projectPoint(const CameraModel &camera, Vec3 p, double *px, double *py)
{
    if (!(p.z > 0.0))
        return false;
    camera.project(p.x / p.z, p.y / p.z, px, py);
    return true;
}

// u at sub-pixel (px, py) from its four neighbours, NaN unless all valid.
double positionAt(const DecodedPositions &d, double px, double py)
{
    const int x0 = int(std::floor(px)), y0 = int(std::floor(py));
    if (x0 < 0 || y0 < 0 || x0 + 1 >= d.width || y0 + 1 >= d.height)
        return kNaN;
    const size_t i = size_t(y0) * size_t(d.width) + size_t(x0);
    const size_t w = size_t(d.width);
    if (!d.valid[i] || !d.valid[i + 1] || !d.valid[i + w] || !d.valid[i + w + 1])
        return kNaN;
    const double fx = px - x0, fy = py - y0;
    const double top = d.position[i] + fx * (d.position[i + 1] - d.position[i]);
    const double bottom = d.position[i + w] + fx * (d.position[i + w + 1] - d.position[i + w]);
    return top + fy * (bottom - top);
}

// Which colour of square is the light one: 0 when the square whose corner
// nearest the origin is corner 0 (board coordinates from 0 to square) and
// its like are light.
int lightParity(const CameraModel &camera, const BoardPose &pose, const BoardSpec &board,
                const float *light)
{
    double sum[2] = {0.0, 0.0};
    int count[2] = {0, 0};
    for (int j = -1; j < board.rows; ++j)
        for (int i = -1; i < board.cols; ++i) {
            double px, py;
            if (!projectPoint(camera,
                              pose.toCamera((i + 0.5) * board.square, (j + 0.5) * board.square),
                              &px, &py))
                continue;
            const int x = int(std::lround(px)), y = int(std::lround(py));
            if (x < 0 || y < 0 || x >= camera.width || y >= camera.height)
                continue;
            const int parity = ((i + j) % 2 + 2) % 2;
            sum[parity] += light[size_t(y) * size_t(camera.width) + size_t(x)];
            ++count[parity];
        }
    const double mean0 = count[0] ? sum[0] / count[0] : 0.0;
    const double mean1 = count[1] ? sum[1] / count[1] : 0.0;
    return mean0 >= mean1 ? 0 : 1;
}

// u at a corner: a quadratic in board coordinates fitted to u on the two
// light squares that meet there, away from their edges (where the blur
// mixes in the dark squares' noisy positions). The light squares lie point
// for point opposite each other about the corner, so the odd terms of u's
// curvature leave the value at the corner alone.
double cornerPosition(const CameraModel &camera, const BoardPose &pose, const BoardSpec &board,
                      const DecodedPositions &decoded, int ci, int cj, int parity, int perSide)
{
    constexpr double kMargin = 0.2;             // of a square, kept clear of its edges
    std::vector<std::array<double, 3>> samples; // s, t, u
    int inSquare[2] = {0, 0};
    int light = 0;
    for (int dj = -1; dj <= 0; ++dj)
        for (int di = -1; di <= 0; ++di) {
            const int i = ci + di, j = cj + dj;
            if ((((i + j) % 2) + 2) % 2 != parity)
                continue;
            for (int b = 0; b < perSide; ++b)
                for (int a = 0; a < perSide; ++a) {
                    const double s = di + kMargin + (1.0 - 2.0 * kMargin) * (a + 0.5) / perSide;
                    const double t = dj + kMargin + (1.0 - 2.0 * kMargin) * (b + 0.5) / perSide;
                    double px, py;
                    if (!projectPoint(
                            camera, pose.toCamera((ci + s) * board.square, (cj + t) * board.square),
                            &px, &py))
                        continue;
                    const double u = positionAt(decoded, px, py);
                    if (std::isfinite(u)) {
                        samples.push_back({s, t, u});
                        ++inSquare[light];
                    }
                }
            ++light;
        }
    const int full = perSide * perSide;
    if (light != 2 || inSquare[0] < full / 2 || inSquare[1] < full / 2)
        return kNaN;

    std::vector<quint8> keep(samples.size(), 1);
    double value = kNaN;
    for (int pass = 0; pass < 2; ++pass) {
        cv::Matx<double, 6, 6> normal = cv::Matx<double, 6, 6>::zeros();
        cv::Vec<double, 6> rhs = cv::Vec<double, 6>::all(0.0);
        for (size_t k = 0; k < samples.size(); ++k) {
            if (!keep[k])
                continue;
            const double s = samples[k][0], t = samples[k][1];
            const double row[6] = {1.0, s, t, s * s, s * t, t * t};
            for (int a = 0; a < 6; ++a) {
                rhs[a] += row[a] * samples[k][2];
                for (int c = 0; c < 6; ++c)
                    normal(a, c) += row[a] * row[c];
            }
        }
        cv::Vec<double, 6> q;
        if (!cv::solve(normal, rhs, q, cv::DECOMP_CHOLESKY))
            return kNaN;
        value = q[0];
        // Set aside samples far off the surface (a speck of dust, a pixel
        // decoded a period off) and fit again.
        double sum = 0.0;
        size_t kept = 0;
        std::vector<double> residual(samples.size());
        for (size_t k = 0; k < samples.size(); ++k) {
            const double s = samples[k][0], t = samples[k][1];
            residual[k] = samples[k][2] -
                          (q[0] + q[1] * s + q[2] * t + q[3] * s * s + q[4] * s * t + q[5] * t * t);
            if (keep[k]) {
                sum += residual[k] * residual[k];
                ++kept;
            }
        }
        const double limit = 3.0 * std::sqrt(sum / double(std::max<size_t>(kept, 1))) + 1e-6;
        for (size_t k = 0; k < samples.size(); ++k)
            keep[k] = std::fabs(residual[k]) <= limit;
    }
    return value;
}

// The board's inner corners in its own plane, row by row, in mm.
std::vector<cv::Point3f> boardCorners(const BoardSpec &board)
{
    std::vector<cv::Point3f> object;
    for (int j = 0; j < board.rows; ++j)
        for (int i = 0; i < board.cols; ++i)
            object.emplace_back(float(i * board.square), float(j * board.square), 0.0f);
    return object;
}

// The poses whose light reference shows the whole board, with the corners
// as the camera saw them; the others are named in the problems.
std::vector<size_t> findBoards(const std::vector<PoseCaptures> &poses, int width, int height,
                               const BoardSpec &board, BoardCalibration *result,
                               std::vector<std::vector<cv::Point2f>> *images)
{
    std::vector<size_t> found;
    for (size_t p = 0; p < poses.size(); ++p) {
        PoseResult &pose = result->poses[p];
        pose.found =
            findBoardCorners(poses[p].light, width, height, board, &pose.cornerX, &pose.cornerY);
        if (!pose.found) {
            result->problems << QString("pose %1: the %2 x %3 board is not found on the light "
                                        "reference")
                                    .arg(p + 1)
                                    .arg(board.cols)
                                    .arg(board.rows);
            continue;
        }
        std::vector<cv::Point2f> points;
        for (size_t k = 0; k < pose.cornerX.size(); ++k)
            points.emplace_back(float(pose.cornerX[k]), float(pose.cornerY[k]));
        images->push_back(points);
        found.push_back(p);
    }
    return found;
}

// The camera from the corners alone, and where each found board lay
// before it.
CameraModel fitCamera(const std::vector<std::vector<cv::Point2f>> &images,
                      const std::vector<cv::Point3f> &object, int width, int height,
                      std::vector<BoardPose> *boardPoses)
{
    const std::vector<std::vector<cv::Point3f>> objects(images.size(), object);
    cv::Mat matrix, distortion;
    std::vector<cv::Mat> rvecs, tvecs;
    const double rms = cv::calibrateCamera(
        objects, images, cv::Size(width, height), matrix, distortion, rvecs, tvecs, 0,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12));
    CameraModel camera;
    camera.width = width;
    camera.height = height;
    camera.fx = matrix.at<double>(0, 0);
    camera.skew = matrix.at<double>(0, 1);
    camera.cx = matrix.at<double>(0, 2);
    camera.fy = matrix.at<double>(1, 1);
    camera.cy = matrix.at<double>(1, 2);
    for (int k = 0; k < 5; ++k)
        camera.distortion[size_t(k)] = distortion.at<double>(k);
    camera.rmsPx = rms;
    boardPoses->assign(images.size(), BoardPose());
    for (size_t f = 0; f < images.size(); ++f) {
        cv::Matx33d rotation;
        cv::Rodrigues(rvecs[f], rotation);
        (*boardPoses)[f].rotation = rotation;
        (*boardPoses)[f].translation =
            cv::Vec3d(tvecs[f].at<double>(0), tvecs[f].at<double>(1), tvecs[f].at<double>(2));
    }
    return camera;
}

// u at the corners, each with the found pose and the corner it came from.
struct CornerSamples {
    std::vector<SheetSample> samples;
    std::vector<std::pair<size_t, size_t>> origin; // found pose, corner
};

// u at every corner of the found poses, kept in each pose's result (NaN
// where none) and gathered where taken for the sheet fit.
CornerSamples sampleCorners(const std::vector<PoseCaptures> &poses, const BoardSpec &board,
                            const std::vector<cv::Point3f> &object,
                            const std::vector<size_t> &found,
                            const std::vector<BoardPose> &boardPoses, const CameraModel &camera,
                            std::vector<PoseResult> *results)
{
    CornerSamples taken;
    for (size_t f = 0; f < found.size(); ++f) {
        const size_t p = found[f];
        PoseResult &pose = (*results)[p];
        const BoardPose &bp = boardPoses[f];
        const int parity = lightParity(camera, bp, board, poses[p].light);
        const double spacing =
            std::hypot(pose.cornerX[1] - pose.cornerX[0], pose.cornerY[1] - pose.cornerY[0]);
        const int perSide = std::clamp(int(spacing * 0.6), 4, 24);
        pose.cornerU.assign(object.size(), kNaN);
        for (int j = 0; j < board.rows; ++j)
            for (int i = 0; i < board.cols; ++i) {
                const size_t k = size_t(j * board.cols + i);
                const double u =
                    cornerPosition(camera, bp, board, *poses[p].decoded, i, j, parity, perSide);
                pose.cornerU[k] = u;
                if (!std::isfinite(u))
                    continue;
                taken.samples.push_back({bp.toCamera(object[k].x, object[k].y), u, int(p)});
                taken.origin.emplace_back(f, k);
            }
    }
    return taken;
}

// The final camera's reprojection error over every found corner, per pose
// and over all.
void reprojectionErrors(const std::vector<cv::Point3f> &object, const std::vector<size_t> &found,
                        const std::vector<BoardPose> &boardPoses, CameraModel *camera,
                        std::vector<PoseResult> *results)
{
    double squares = 0.0;
    for (size_t f = 0; f < found.size(); ++f) {
        PoseResult &pose = (*results)[found[f]];
        for (size_t k = 0; k < object.size(); ++k) {
            // A corner the fitted pose puts behind the camera is not reproduced
            // at all: its error is unbounded, so the fit reads as poor.
            double px = 0.0, py = 0.0, error2 = std::numeric_limits<double>::infinity();
            if (projectPoint(*camera, boardPoses[f].toCamera(object[k].x, object[k].y), &px, &py)) {
                const double dx = px - pose.cornerX[k], dy = py - pose.cornerY[k];
                error2 = dx * dx + dy * dy;
            }
            pose.rmsPx += error2;
            squares += error2;
        }
    }
    camera->rmsPx = std::sqrt(squares / double(found.size() * object.size()));
    for (size_t f = 0; f < found.size(); ++f) {
        PoseResult &pose = (*results)[found[f]];
        pose.rmsPx = std::sqrt(pose.rmsPx / double(object.size()));
    }
}

// The sheets' misfit in u per pose and over the corners the fit used; a
// pose with most corners set aside is named in the problems. False when
// some pose's captures do not belong together.
bool sheetResiduals(const CornerSamples &taken, const std::vector<quint8> &used,
                    const std::vector<size_t> &found, BoardCalibration *result)
{
    const std::vector<SheetSample> &samples = taken.samples;
    std::vector<double> residual(samples.size());
    double sumU = 0.0;
    size_t countU = 0;
    for (size_t s = 0; s < samples.size(); ++s) {
        residual[s] = result->sheets.positionOf(samples[s].point) - samples[s].u;
        if (used[s]) {
            sumU += residual[s] * residual[s];
            ++countU;
        }
    }
    result->sheets.rmsU = countU ? std::sqrt(sumU / double(countU)) : 0.0;

    bool posesAgree = true;
    for (size_t f = 0; f < found.size(); ++f) {
        const size_t p = found[f];
        double sum = 0.0;
        int count = 0, aside = 0;
        for (size_t s = 0; s < samples.size(); ++s) {
            if (taken.origin[s].first != f)
                continue;
            if (!used[s]) {
                ++aside;
                continue;
            }
            sum += residual[s] * residual[s];
            ++count;
        }
        PoseResult &pose = result->poses[p];
        pose.corners = count;
        pose.setAside = aside;
        pose.rmsU = count ? std::sqrt(sum / count) : 0.0;
        if (pose.found && count == 0 && aside == 0)
            result->problems << QString("pose %1: no corner has a projected position (is the "
                                        "board in the projector's light?)")
                                    .arg(p + 1);
        // A few corners off the sheets are glints or edges; most of a pose's
        // are captures that do not belong together.
        if (aside > count) {
            posesAgree = false;
            result->problems << QString("pose %1: %2 of %3 corners lie far off the light sheets "
                                        "(do its captures all show the board at one pose?)")
                                    .arg(p + 1)
                                    .arg(aside)
                                    .arg(aside + count);
        }
    }
    return posesAgree;
}

} // namespace

BoardCalibration calibrateBoard(const std::vector<PoseCaptures> &poses, int width, int height,
                                const BoardSpec &board, double edgePosition)
{
    BoardCalibration result;
    result.poses.resize(poses.size());
    const std::vector<cv::Point3f> object = boardCorners(board);
    std::vector<std::vector<cv::Point2f>> images;
    const std::vector<size_t> found = findBoards(poses, width, height, board, &result, &images);
    if (found.size() < size_t(kMinPoses)) {
        result.problems << QString("the board was found on %1 poses; calibrating needs at least %2")
                               .arg(found.size())
                               .arg(kMinPoses);
        return result;
    }

    std::vector<BoardPose> boardPoses;
    result.camera = fitCamera(images, object, width, height, &boardPoses);
    const CornerSamples taken =
        sampleCorners(poses, board, object, found, boardPoses, result.camera, &result.poses);
    const SheetFitResult fit = fitSheets(taken.samples, edgePosition);
    if (!fit.ok) {
        result.problems << fit.error;
        return result;
    }
    result.sheets = fit.model;
    reprojectionErrors(object, found, boardPoses, &result.camera, &result.poses);
    const bool posesAgree = sheetResiduals(taken, fit.used, found, &result);

    result.ok = true;
    const double rmsPx = result.camera.rmsPx;
    if (!(rmsPx <= kMaxCameraRmsPx))
        result.problems << QString("the camera fits the corners to %1 px RMS, worse than %2 px")
                               .arg(rmsPx, 0, 'f', 3)
                               .arg(kMaxCameraRmsPx);
    const double rmsU = result.sheets.rmsU;
    if (!(rmsU <= kMaxSheetRmsU))
        result.problems << QString("the light sheets fit the corners to %1 in u RMS, worse than %2")
                               .arg(rmsU, 0, 'f', 4)
                               .arg(kMaxSheetRmsU);
    result.good = rmsPx <= kMaxCameraRmsPx && rmsU <= kMaxSheetRmsU && posesAgree;
    return result;
}
