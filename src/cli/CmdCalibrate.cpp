// dvkctl calibrate: the camera and the projector's light sheets from
// captures of a chessboard held at several poses.
#include "CaptureRun.h"
#include "Cli.h"

#include "geometry/BoardCalibration.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <memory>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command calibrateCommand{
    "calibrate",
    "calibrate the camera and light sheets from a chessboard",
    "Calibrates the camera and the projector's light sheets from captures of a flat chessboard "
    "at several poses (the light@P capture shows the board). Writes CALIB.json: the camera "
    "(matrix, distortion k1 k2 p1 p2 k3), the mirror's axis and the mapping from u to its sheet, "
    "and the residuals per pose.\n"
    "Exit: 0 a good fit, 1 a poor fit (worse than 1 px or 0.005 in u; the file is still written) "
    "or no fit, 2 bad usage or unreadable input.",
    captureSetOptions() +
        QList<QCommandLineOption>{
            {"board",
             "The chessboard: inner corners along a row and along a column, and the squares' "
             "width in mm, e.g. 9x6:25.",
             "COLSxROWS:SQUARE"},
            {{"o", "output"}, "The calibration file to write.", "CALIB.json"},
            {"json", "The calibration as one JSON object on standard output."}},
    {{"FILE", "The pattern file the projector holds.", {}},
     {"POSE",
      "A folder of captures of the board at one pose, one per page the sets use, as for decode; "
      "at least 4 poses.",
      "POSE..."}},
    {"set"},
    run};

namespace
{

const QString kName = calibrateCommand.tag();

// What calibrating keeps of a pose: its light reference and the positions.
struct Pose {
    QString folder;
    std::vector<float> light;
    DecodedPositions decoded;
};

// What a pose leaves once decoded: its light reference and positions
// (float each) and validity (a byte); the modulation is dropped.
constexpr qint64 kPoseBytesPerPixel = 9;

// A run as the command line asks for it, checked before any capture is read.
struct Request {
    int scanValue = 0;
    QString output;
    BoardSpec board;
    PatternSets sets;
    QStringList folders;
    std::vector<QStringList> poseFiles;
};

// The options and arguments read and checked, and CALIB.json known to be
// writable without overwriting an input.
int readRequest(const QCommandLineParser &parser, Request *request)
{
    int rc =
        checkRunStart(parser, kName, "CALIB.json", false, &request->scanValue, &request->output);
    if (rc >= 0)
        return rc;
    if (!parser.isSet("board")) {
        err(QString("%1: --board COLSxROWS:SQUARE is required").arg(kName));
        return ExitUsage;
    }
    QString why;
    if (!parseBoardSpec(parser.value("board"), &request->board, &why)) {
        err(QString("%1: --board %2").arg(kName, why));
        return ExitUsage;
    }
    PatternSets &sets = request->sets;
    if ((rc = readPatternSets(parser, kName, &sets)) >= 0)
        return rc;
    if (sets.plan.light < 0) {
        err(QString("%1: give the light reference (--set light@P): the board's corners are "
                    "found on it")
                .arg(kName));
        return ExitUsage;
    }
    const QStringList folders = parser.positionalArguments().mid(1);
    if (folders.size() < kMinPoses) {
        err(QString("%1: %2 poses given; calibrating needs at least %3")
                .arg(kName)
                .arg(folders.size())
                .arg(kMinPoses));
        return ExitUsage;
    }
    request->folders = folders;
    QStringList inputs(sets.file);
    for (const QString &folder : folders) {
        if (!QFileInfo(folder).isDir()) {
            err(QString("%1: pose '%2' is not a folder").arg(kName, folder));
            return ExitUsage;
        }
        QStringList paths;
        if ((rc = captureFiles(kName, {folder}, int(sets.plan.pages.size()), &paths)) >= 0)
            return rc;
        request->poseFiles.push_back(paths);
        inputs << paths;
    }
    const QFileInfo target(request->output);
    if (target.isDir()) {
        err(QString("%1: -o: '%2' is a directory").arg(kName, request->output));
        return ExitUsage;
    }
    return checkOutputs(kName, target.path(), {target.fileName()}, inputs);
}

// Each pose decoded in turn; only its light reference and positions kept.
// Each is measured against all the others kept, so that one too many is
// refused before the first is read.
int decodePoses(const Request &request, std::vector<Pose> *poses, int *width, int *height)
{
    int rc = -1;
    const QStringList &folders = request.folders;
    const qint64 keptPerPixel = kPoseBytesPerPixel * (folders.size() - 1);
    poses->resize(size_t(folders.size()));
    for (int p = 0; p < folders.size(); ++p) {
        DecodeRun run;
        if ((rc = decodeCaptures(kName, request.sets, request.poseFiles[size_t(p)], &run, false,
                                 keptPerPixel)) >= 0)
            return rc;
        if (p == 0) {
            *width = run.width;
            *height = run.height;
        } else if (run.width != *width || run.height != *height) {
            err(QString("%1: the captures of '%2' are %3 x %4 pixels; those of '%5' %6 x %7")
                    .arg(kName, folders[p])
                    .arg(run.width)
                    .arg(run.height)
                    .arg(folders[0])
                    .arg(*width)
                    .arg(*height));
            return ExitUsage;
        }
        Pose &pose = (*poses)[size_t(p)];
        pose.folder = folders[p];
        const float *light = run.light(request.sets.plan);
        pose.light.assign(light, light + size_t(*width) * size_t(*height));
        pose.decoded = std::move(run.decoded);
        // Calibrating never reads it, and it is as large as the positions.
        std::vector<float>().swap(pose.decoded.modulation);
    }
    return -1;
}

QJsonObject calibrationJson(const BoardCalibration &calibration, const Request &request,
                            const std::vector<Pose> &poses)
{
    const BoardSpec &board = request.board;
    QJsonObject o;
    o["camera"] = cameraJson(calibration.camera);
    o["projector"] = projectorJson(calibration.sheets, request.scanValue);
    o["board"] =
        QJsonObject{{"cols", board.cols}, {"rows", board.rows}, {"square_mm", board.square}};
    QJsonArray poseList;
    for (size_t p = 0; p < poses.size(); ++p) {
        const PoseResult &r = calibration.poses[p];
        QJsonObject entry;
        entry["folder"] = poses[p].folder;
        entry["found"] = r.found;
        entry["corners"] = r.corners;
        entry["set_aside"] = r.setAside;
        entry["rms_px"] = r.found ? QJsonValue(r.rmsPx) : QJsonValue();
        entry["rms_u"] = r.found ? QJsonValue(r.rmsU) : QJsonValue();
        poseList.append(entry);
    }
    o["poses"] = poseList;
    o["verdict"] = calibration.good ? "good" : "poor";
    o["problems"] = QJsonArray::fromStringList(calibration.problems);
    return o;
}

void printCalibration(const BoardCalibration &calibration, const std::vector<Pose> &poses,
                      const QString &output)
{
    const CameraModel &c = calibration.camera;
    const SheetModel &s = calibration.sheets;
    outLine(QString("camera: %1 x %2, f %3 %4 px, centre %5 %6, RMS %7 px")
                .arg(c.width)
                .arg(c.height)
                .arg(c.fx, 0, 'f', 2)
                .arg(c.fy, 0, 'f', 2)
                .arg(c.cx, 0, 'f', 2)
                .arg(c.cy, 0, 'f', 2)
                .arg(c.rmsPx, 0, 'f', 3));
    outLine(QString("sheets: axis through (%1, %2, %3) mm, amplitude %4, zero %5 deg, RMS %6 "
                    "in u")
                .arg(s.axisPoint.x, 0, 'f', 1)
                .arg(s.axisPoint.y, 0, 'f', 1)
                .arg(s.axisPoint.z, 0, 'f', 1)
                .arg(s.amplitude, 0, 'f', 5)
                .arg(s.zero * 180.0 / std::acos(-1.0), 0, 'f', 4)
                .arg(s.rmsU, 0, 'f', 5));
    for (size_t p = 0; p < poses.size(); ++p) {
        const PoseResult &r = calibration.poses[p];
        outLine(r.found ? QString("  %1: %2 corners, %3 px, %4 in u")
                              .arg(poses[p].folder)
                              .arg(r.corners)
                              .arg(r.rmsPx, 0, 'f', 3)
                              .arg(r.rmsU, 0, 'f', 5)
                        : QString("  %1: board not found").arg(poses[p].folder));
    }
    outLine(QString("verdict: %1").arg(calibration.good ? "good" : "poor"));
    outLine(QString("calibration in %1").arg(QDir::toNativeSeparators(output)));
}

int calibrateRun(const QCommandLineParser &parser)
{
    int rc = -1;
    Request request;
    if ((rc = readRequest(parser, &request)) >= 0)
        return rc;
    std::vector<Pose> poses;
    int width = 0, height = 0;
    if ((rc = decodePoses(request, &poses, &width, &height)) >= 0)
        return rc;

    std::vector<PoseCaptures> inputsPerPose;
    for (const Pose &pose : poses)
        inputsPerPose.push_back({pose.light.data(), &pose.decoded});
    const BoardCalibration calibration = calibrateBoard(inputsPerPose, width, height, request.board,
                                                        request.sets.timing.edgePosition);
    for (const QString &problem : calibration.problems)
        err(QString("%1: %2").arg(kName, problem));
    if (!calibration.ok)
        return ExitFailed;

    const QJsonObject o = calibrationJson(calibration, request, poses);
    const QFileInfo target(request.output);
    if ((rc = writeOutputs(
             kName, target.path(),
             {{target.fileName(), QJsonDocument(o).toJson(QJsonDocument::Indented)}})) >= 0)
        return rc;
    if (parser.isSet("json"))
        outLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    else
        printCalibration(calibration, poses, request.output);
    return calibration.good ? ExitOk : ExitFailed;
}

int run(const Call &call)
{
    return unlessMemoryRunsOut(kName, [&call] { return calibrateRun(call.parser); });
}

} // namespace

} // namespace cli
