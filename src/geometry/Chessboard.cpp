// The chessboard itself: how a user names one, and where its inner corners
// lie on a light reference.
#include "BoardCalibration.h"

#include <QRegularExpression>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
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
