#include "LeastSquares.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

double sumOfSquares(const std::vector<double> &r)
{
    double s = 0.0;
    for (double v : r)
        s += v * v;
    return std::isfinite(s) ? s : std::numeric_limits<double>::infinity();
}

} // namespace

double minimise(const LeastSquaresProblem &problem, int maxIterations)
{
    const int n = int(problem.differenceSteps.size());
    std::vector<double> zero(size_t(n), 0.0), r, plus, minus, trial;
    problem.residuals(zero, r);
    double cost = sumOfSquares(r);
    if (!std::isfinite(cost))
        return cost;
    const size_t m = r.size();
    cv::Mat jacobian(int(m), n, CV_64F);
    double lambda = 1e-3;
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
        for (int k = 0; k < n; ++k) {
            std::vector<double> step(size_t(n), 0.0);
            const double h = problem.differenceSteps[size_t(k)];
            step[size_t(k)] = h;
            problem.residuals(step, plus);
            step[size_t(k)] = -h;
            problem.residuals(step, minus);
            for (size_t i = 0; i < m; ++i) {
                const double d = (plus[i] - minus[i]) / (2.0 * h);
                jacobian.at<double>(int(i), k) = std::isfinite(d) ? d : 0.0;
            }
        }
        const cv::Mat rv(int(m), 1, CV_64F, r.data());
        const cv::Mat jtj = jacobian.t() * jacobian;
        const cv::Mat jtr = jacobian.t() * rv;
        bool improved = false;
        while (lambda < 1e12) {
            cv::Mat damped = jtj.clone();
            for (int a = 0; a < n; ++a)
                damped.at<double>(a, a) += lambda * std::max(jtj.at<double>(a, a), 1e-12);
            cv::Mat solution;
            if (!cv::solve(damped, -jtr, solution, cv::DECOMP_CHOLESKY)) {
                lambda *= 10.0;
                continue;
            }
            const std::vector<double> step(solution.begin<double>(), solution.end<double>());
            problem.residuals(step, trial);
            const double next = sumOfSquares(trial);
            if (next < cost) {
                problem.accept(step);
                const double gain = cost - next;
                r.swap(trial);
                cost = next;
                lambda = std::max(lambda / 10.0, 1e-9);
                improved = gain > 1e-12 * cost;
                break;
            }
            lambda *= 10.0;
        }
        if (!improved)
            break;
    }
    return cost;
}
