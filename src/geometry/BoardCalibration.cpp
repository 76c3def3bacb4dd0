#include "BoardCalibration.h"

#include "SheetFit.h"

#include "analysis/CaptureDecoder.h"

#include <QRegularExpression>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

bool parseBoardSpec(const QString &text, BoardSpec *board, QString *error)
{
    static const QRegularExpression form("^(\\d+)x(\\d+):([0-9]*\\.?[0-9]+)$");
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        *error = QString("'%1' is not COLSxROWS:SQUARE (inner corners and the square's width "
                         "in mm, e.g. 9x6:25)")
                     .arg(text);
        return false;
    }
    board->cols = m.captured(1).toInt();
    board->rows = m.captured(2).toInt();
    board->square = m.captured(3).toDouble();
    if (board->cols < 3 || board->rows < 3 || board->cols > 100 || board->rows > 100 ||
        !(board->square > 0.0) || board->square > 10000.0) {
        *error = QString("'%1': a board needs 3 to 100 inner corners each way and squares "
                         "wider than 0 mm")
                     .arg(text);
        return false;
    }
    return true;
}

namespace
{

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The light reference stretched to 8 bits for the corner finder: a dim
// board far from the projector is still found.
cv::Mat stretched(const float *light, int width, int height, float *scale)
{
    std::vector<int> histogram(1024, 0);
    const size_t count = size_t(width) * size_t(height);
    for (size_t i = 0; i < count; ++i)
        ++histogram[size_t(std::clamp(int(light[i] * 1023.0f), 0, 1023))];
    qint64 seen = 0;
    int top = 1023;
    for (; top > 0; --top) {
        seen += histogram[size_t(top)];
        if (seen > qint64(count / 200))
            break;
    }
    *scale = 255.0f / (std::max(top, 4) / 1023.0f);
    cv::Mat image(height, width, CV_8U);
    for (int y = 0; y < height; ++y) {
        uchar *line = image.ptr<uchar>(y);
        for (int x = 0; x < width; ++x)
            line[x] =
                cv::saturate_cast<uchar>(light[size_t(y) * size_t(width) + size_t(x)] * *scale);
    }
    return image;
}

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

// A corner as seen: its board coordinates, where the camera saw it, and u
// there (NaN when none, or set aside by the sheet fit).
struct Corner {
    int pose = 0;
    double bx = 0.0, by = 0.0;
    double px = 0.0, py = 0.0;
    double u = kNaN;
};

} // namespace

bool findBoardCorners(const float *light, int width, int height, const BoardSpec &board,
                      std::vector<double> *x, std::vector<double> *y)
{
    float scale = 1.0f;
    const cv::Mat image = stretched(light, width, height, &scale);
    std::vector<cv::Point2f> corners;
    if (!cv::findChessboardCorners(image, cv::Size(board.cols, board.rows), corners,
                                   cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE))
        return false;
    // The search window: about a third of the corners' spacing, so that it
    // never reaches the next corner.
    double spacing = std::numeric_limits<double>::infinity();
    for (int j = 0; j < board.rows; ++j)
        for (int i = 0; i + 1 < board.cols; ++i)
            spacing = std::min<double>(spacing, cv::norm(corners[size_t(j * board.cols + i + 1)] -
                                                         corners[size_t(j * board.cols + i)]));
    const int half = std::clamp(int(spacing / 3.0), 2, 15);
    cv::Mat fine(height, width, CV_32F);
    for (int r = 0; r < height; ++r)
        std::copy(light + size_t(r) * size_t(width), light + size_t(r + 1) * size_t(width),
                  fine.ptr<float>(r));
    fine *= scale;
    cv::cornerSubPix(fine, corners, cv::Size(half, half), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-4));
    x->clear();
    y->clear();
    for (const cv::Point2f &p : corners) {
        x->push_back(p.x);
        y->push_back(p.y);
    }
    return true;
}

BoardCalibration calibrateBoard(const std::vector<PoseCaptures> &poses, int width, int height,
                                const BoardSpec &board, double edgePosition)
{
    BoardCalibration result;
    result.poses.resize(poses.size());
    std::vector<std::vector<cv::Point3f>> objects;
    std::vector<std::vector<cv::Point2f>> images;
    std::vector<size_t> found;
    std::vector<cv::Point3f> object;
    for (int j = 0; j < board.rows; ++j)
        for (int i = 0; i < board.cols; ++i)
            object.emplace_back(float(i * board.square), float(j * board.square), 0.0f);
    for (size_t p = 0; p < poses.size(); ++p) {
        PoseResult &pose = result.poses[p];
        pose.found =
            findBoardCorners(poses[p].light, width, height, board, &pose.cornerX, &pose.cornerY);
        if (!pose.found) {
            result.problems << QString("pose %1: the %2 x %3 board is not found on the light "
                                       "reference")
                                   .arg(p + 1)
                                   .arg(board.cols)
                                   .arg(board.rows);
            continue;
        }
        std::vector<cv::Point2f> points;
        for (size_t k = 0; k < pose.cornerX.size(); ++k)
            points.emplace_back(float(pose.cornerX[k]), float(pose.cornerY[k]));
        images.push_back(points);
        objects.push_back(object);
        found.push_back(p);
    }
    if (found.size() < size_t(kMinPoses)) {
        result.problems << QString("the board was found on %1 poses; calibrating needs at least %2")
                               .arg(found.size())
                               .arg(kMinPoses);
        return result;
    }

    cv::Mat matrix, distortion;
    std::vector<cv::Mat> rvecs, tvecs;
    const double rms = cv::calibrateCamera(
        objects, images, cv::Size(width, height), matrix, distortion, rvecs, tvecs, 0,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12));
    CameraModel &camera = result.camera;
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

    std::vector<SheetSample> samples;
    std::vector<std::pair<size_t, size_t>> origin; // found pose, corner
    std::vector<BoardPose> boardPoses(found.size());
    for (size_t f = 0; f < found.size(); ++f) {
        const size_t p = found[f];
        PoseResult &pose = result.poses[p];
        BoardPose bp;
        cv::Matx33d rotation;
        cv::Rodrigues(rvecs[f], rotation);
        bp.rotation = rotation;
        bp.translation =
            cv::Vec3d(tvecs[f].at<double>(0), tvecs[f].at<double>(1), tvecs[f].at<double>(2));
        boardPoses[f] = bp;
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
                samples.push_back({bp.toCamera(object[k].x, object[k].y), u, int(p)});
                origin.emplace_back(f, k);
            }
    }

    const SheetFitResult fit = fitSheets(samples, edgePosition);
    if (!fit.ok) {
        result.problems << fit.error;
        return result;
    }
    result.sheets = fit.model;
    std::vector<Corner> corners;
    for (size_t f = 0; f < found.size(); ++f)
        for (size_t k = 0; k < object.size(); ++k)
            corners.push_back({int(f), object[k].x, object[k].y, result.poses[found[f]].cornerX[k],
                               result.poses[found[f]].cornerY[k], kNaN});
    for (size_t s = 0; s < samples.size(); ++s)
        if (fit.used[s])
            corners[origin[s].first * object.size() + origin[s].second].u = samples[s].u;

    // Residuals of the final model.
    double squares = 0.0;
    for (const Corner &c : corners) {
        double px, py;
        projectPoint(camera, boardPoses[size_t(c.pose)].toCamera(c.bx, c.by), &px, &py);
        result.poses[found[size_t(c.pose)]].rmsPx +=
            (px - c.px) * (px - c.px) + (py - c.py) * (py - c.py);
        squares += (px - c.px) * (px - c.px) + (py - c.py) * (py - c.py);
    }
    camera.rmsPx = std::sqrt(squares / double(corners.size()));
    for (size_t f = 0; f < found.size(); ++f) {
        PoseResult &pose = result.poses[found[f]];
        pose.rmsPx = std::sqrt(pose.rmsPx / double(object.size()));
    }
    std::vector<double> residual(samples.size());
    double sumU = 0.0;
    size_t countU = 0;
    for (size_t s = 0; s < samples.size(); ++s) {
        const Corner &c = corners[origin[s].first * object.size() + origin[s].second];
        residual[s] = result.sheets.positionOf(boardPoses[size_t(c.pose)].toCamera(c.bx, c.by)) -
                      samples[s].u;
        if (fit.used[s]) {
            sumU += residual[s] * residual[s];
            ++countU;
        }
    }
    result.sheets.rmsU = countU ? std::sqrt(sumU / double(countU)) : 0.0;

    bool posesAgree = true;
    for (size_t f = 0; f < found.size(); ++f) {
        const size_t p = found[f];
        double sum = 0.0;
        int count = 0, aside = 0;
        for (size_t s = 0; s < samples.size(); ++s) {
            if (origin[s].first != f)
                continue;
            if (!fit.used[s]) {
                ++aside;
                continue;
            }
            sum += residual[s] * residual[s];
            ++count;
        }
        PoseResult &pose = result.poses[p];
        pose.corners = count;
        pose.setAside = aside;
        pose.rmsU = count ? std::sqrt(sum / count) : 0.0;
        if (pose.found && count == 0 && aside == 0)
            result.problems << QString("pose %1: no corner has a projected position (is the "
                                       "board in the projector's light?)")
                                   .arg(p + 1);
        // A few corners off the sheets are glints or edges; most of a pose's
        // are captures that do not belong together.
        if (aside > count) {
            posesAgree = false;
            result.problems << QString("pose %1: %2 of %3 corners lie far off the light sheets "
                                       "(do its captures all show the board at one pose?)")
                                   .arg(p + 1)
                                   .arg(aside)
                                   .arg(aside + count);
        }
    }
    result.ok = true;
    if (!(camera.rmsPx <= kMaxCameraRmsPx))
        result.problems << QString("the camera fits the corners to %1 px RMS, worse than %2 px")
                               .arg(camera.rmsPx, 0, 'f', 3)
                               .arg(kMaxCameraRmsPx);
    const double rmsU = result.sheets.rmsU;
    if (!(rmsU <= kMaxSheetRmsU))
        result.problems << QString("the light sheets fit the corners to %1 in u RMS, worse than %2")
                               .arg(rmsU, 0, 'f', 4)
                               .arg(kMaxSheetRmsU);
    result.good = camera.rmsPx <= kMaxCameraRmsPx && rmsU <= kMaxSheetRmsU && posesAgree;
    return result;
}
