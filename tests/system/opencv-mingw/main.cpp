// A camera pose recovered from the points it projects: solvePnP must return
// the rotation and translation the points were made with.
#include <opencv2/calib3d.hpp>

#include <cstdio>
#include <vector>

int main()
{
    const cv::Matx33d camera(1200, 0, 640, 0, 1200, 480, 0, 0, 1);
    const cv::Vec3d rotation(0.1, -0.2, 0.05), translation(0.03, -0.02, 1.5);
    std::vector<cv::Point3d> board;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
            board.emplace_back(0.025 * x, 0.025 * y, 0.0);
    std::vector<cv::Point2d> image;
    cv::projectPoints(board, rotation, translation, camera, cv::noArray(), image);

    cv::Vec3d r, t;
    if (!cv::solvePnP(board, image, camera, cv::noArray(), r, t))
        return 1;
    const double error = cv::norm(r - rotation) + cv::norm(t - translation);
    std::printf("OpenCV %s: pose recovered within %.1e\n", CV_VERSION, error);
    return error < 1e-6 ? 0 : 1;
}
