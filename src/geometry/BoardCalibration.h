#ifndef DVK_BOARDCALIBRATION_H
#define DVK_BOARDCALIBRATION_H

// Calibrating the camera and the light sheets from a flat chessboard held
// at several poses. Each pose gives the light reference, on which the
// corners are found, and the decoded positions, from which the projected
// position at each corner is taken.

#include "SheetModel.h"

#include <QString>
#include <QStringList>

#include <vector>

struct DecodedPositions;

struct BoardSpec {
    int cols = 0;        // inner corners along a row
    int rows = 0;        // inner corners along a column
    double square = 0.0; // mm
};

// "COLSxROWS:SQUARE", e.g. 9x6:25; on failure says why.
bool parseBoardSpec(const QString &text, BoardSpec *board, QString *error);

struct PoseCaptures {
    const float *light = nullptr; // width x height, shares of full scale
    const DecodedPositions *decoded = nullptr;
};

// The bounds of a good fit.
constexpr double kMaxCameraRmsPx = 1.0;
constexpr double kMaxSheetRmsU = 0.005;
constexpr int kMinPoses = 4;

struct PoseResult {
    bool found = false; // the board was found on the light reference
    int corners = 0;    // with a projected position, used in the fit
    int setAside = 0;   // with one far off the fitted sheets
    double rmsPx = 0.0;
    double rmsU = 0.0;
    std::vector<double> cornerX, cornerY; // pixel positions found
    std::vector<double> cornerU;          // NaN where none was taken
};

struct BoardCalibration {
    bool ok = false;   // a model was fitted (it may still be poor)
    bool good = false; // within the bounds above
    CameraModel camera;
    SheetModel sheets;
    std::vector<PoseResult> poses;
    QStringList problems;
};

// Corners on a light reference, ordered row by row as the board's corners
// (i + cols j); false when the whole board is not seen.
bool findBoardCorners(const float *light, int width, int height, const BoardSpec &board,
                      std::vector<double> *x, std::vector<double> *y);

BoardCalibration calibrateBoard(const std::vector<PoseCaptures> &poses, int width, int height,
                                const BoardSpec &board, double edgePosition);

#endif
