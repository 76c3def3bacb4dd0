#ifndef DVK_SHEETFIT_H
#define DVK_SHEETFIT_H

// Fitting the sheet model to points whose projected position is known:
// corners of a board at several poses, in the camera's frame.

#include "SheetModel.h"

#include <vector>

struct SheetSample {
    Vec3 point; // mm, camera frame
    double u = 0.0;
    int group = 0; // the pose it came from
};

struct SheetFitResult {
    bool ok = false;
    QString error;
    SheetModel model;
    std::vector<double> residual; // u of the model minus u measured, per sample
    std::vector<quint8> used;     // 0 for samples set aside as outliers
    double rmsU = 0.0;            // over the samples used
};

// A first guess in closed form (each sample's sheet, taken at the model's
// own deflection, is a linear condition on the projector's pose), then
// Levenberg-Marquardt on the residuals in u, over the axis (four degrees of
// freedom), amplitude and zero. Samples far off the first fit are set
// aside and the fit repeated once.
SheetFitResult fitSheets(const std::vector<SheetSample> &samples, double edgePosition);

#endif
