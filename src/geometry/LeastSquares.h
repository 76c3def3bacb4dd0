#ifndef DVK_LEASTSQUARES_H
#define DVK_LEASTSQUARES_H

// Levenberg-Marquardt for the small fits of calibration: a few dozen
// parameters, a few thousand residuals, the Jacobian by central
// differences. The parameters are steps from the problem's current state,
// so that a state on a curved manifold (a direction, a rotation) is moved
// by its own rule.

#include <functional>
#include <vector>

struct LeastSquaresProblem {
    // Finite-difference step of each parameter.
    std::vector<double> differenceSteps;
    // The residuals at the current state moved by `step` (one per parameter).
    std::function<void(const std::vector<double> &step, std::vector<double> &residuals)> residuals;
    // Moves the current state by `step`.
    std::function<void(const std::vector<double> &step)> accept;
};

// Returns the final sum of squares (infinite when even the start is not
// finite). Stops when a step gains almost nothing or none helps.
double minimise(const LeastSquaresProblem &problem, int maxIterations = 100);

#endif
