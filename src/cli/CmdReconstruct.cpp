// dvkctl reconstruct: captures decoded as decode does, then each valid
// pixel triangulated with the light sheet of its projected position.
#include "CaptureRun.h"
#include "Cli.h"
#include "OutputSet.h"
#include "Stop.h"

#include "geometry/Reconstruction.h"
#include "patterns/FileAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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

const Command reconstructCommand{
    "reconstruct",
    "triangulate captures into a point cloud and depth map",
    "Decodes camera captures of projected pattern sets as decode does, and triangulates every "
    "valid pixel with the light sheet of its projected position. Writes to OUTDIR: points.ply "
    "(binary: float x y z in mm in the camera's frame, uchar intensity of the light reference), "
    "depth.npy (float32, z in mm, NaN where nothing was measured) and report.json.\n"
    "Exit: 0 every capture shows its page, 1 the check found a problem, 2 bad usage or "
    "unreadable input.",
    captureSetOptions() +
        QList<QCommandLineOption>{{"calibration",
                                   "The camera and light sheets, as dvkctl calibrate wrote them.",
                                   "CALIB"}} +
        resultFolderOptions(),
    captureArguments(),
    {"set"},
    run};

namespace
{

const QString kName = reconstructCommand.tag();

// The largest calibration file worth reading: a few kilobytes in practice.
constexpr qint64 kMaxCalibrationBytes = 1 << 20;

int readCalibration(const QString &path, CameraModel *camera, SheetModel *sheets, int *scanValue)
{
    if (!isRegularFile(path)) {
        err(QString("%1: --calibration '%2' is not a regular file").arg(kName, path));
        return ExitUsage;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err(QString("%1: cannot open '%2': %3").arg(kName, path, file.errorString()));
        return ExitUsage;
    }
    const QByteArray bytes = file.read(kMaxCalibrationBytes + 1);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (bytes.size() > kMaxCalibrationBytes || !doc.isObject()) {
        err(QString("%1: '%2' is not a calibration (JSON object): %3")
                .arg(kName, path,
                     bytes.size() > kMaxCalibrationBytes ? QString("too large")
                                                         : parseError.errorString()));
        return ExitUsage;
    }
    QString why;
    if (!cameraFromJson(doc.object().value("camera").toObject(), camera, &why) ||
        !projectorFromJson(doc.object().value("projector").toObject(), sheets, scanValue, &why)) {
        err(QString("%1: '%2': %3").arg(kName, path, why));
        return ExitUsage;
    }
    return -1;
}

// Once the captures are gone, beside the positions and intensity: the depth
// map and the points (4 + 13 bytes a pixel at most), their PLY (13) and
// depth.npy (4).
constexpr qint64 kCloudBytesPerPixel = 34;

// What the command line asks for, with the calibration and the captures'
// paths once read.
struct Request {
    int scanValue = 0;
    QString outDir;
    QString calibrationPath;
    CameraModel camera;
    SheetModel sheets;
    PatternSets sets;
    QStringList capturePaths;
};

const QStringList kOutputNames = {"points.ply", "depth.npy", "report.json"};

// The options checked before anything is read or written.
int checkOptions(const QCommandLineParser &parser, Request *request)
{
    const int rc =
        checkRunStart(parser, kName, "OUTDIR", true, &request->scanValue, &request->outDir);
    if (rc >= 0)
        return rc;
    if (!parser.isSet("calibration")) {
        err(QString("%1: --calibration CALIB.json is required").arg(kName));
        return ExitUsage;
    }
    request->calibrationPath = parser.value("calibration");
    return -1;
}

// The calibration, the pattern sets and the captures' paths, none of them
// among the outputs.
int readInputs(const QCommandLineParser &parser, Request *request)
{
    int rc = -1;
    int calibratedScanValue = 0;
    if ((rc = readCalibration(request->calibrationPath, &request->camera, &request->sheets,
                              &calibratedScanValue)) >= 0)
        return rc;
    PatternSets &sets = request->sets;
    if ((rc = readPatternSets(parser, kName, &sets)) >= 0)
        return rc;
    // u is relative to the window's edge, which the scan value sets; the
    // mirror's amplitude and zero stay as calibrated.
    if (calibratedScanValue != request->scanValue)
        err(QString("%1: note: calibrated at scan value %2, reconstructing at %3")
                .arg(kName)
                .arg(calibratedScanValue)
                .arg(request->scanValue));
    request->sheets.edgePosition = sets.timing.edgePosition;
    if ((rc = captureFiles(kName, parser.positionalArguments().mid(1), int(sets.plan.pages.size()),
                           &request->capturePaths)) >= 0)
        return rc;
    return checkOutputs(kName, request->outDir, kOutputNames,
                        QStringList{sets.file, request->calibrationPath} + request->capturePaths);
}

// Captures of another size than the calibrated camera's are refused from
// their headers, before minutes of decoding.
int checkCaptureSize(const Request &request)
{
    QSize size;
    qint64 readBytes = 0;
    const int rc = captureSizes(kName, request.capturePaths, &size, &readBytes);
    if (rc >= 0)
        return rc;
    const CameraModel &camera = request.camera;
    if (size == QSize(camera.width, camera.height))
        return -1;
    err(QString("%1: the captures are %2 x %3 pixels; the camera was calibrated at %4 x %5")
            .arg(kName)
            .arg(size.width())
            .arg(size.height())
            .arg(camera.width)
            .arg(camera.height));
    return ExitUsage;
}

QJsonObject reconstructionReport(const Request &request, const DecodeRun &run,
                                 const Reconstruction &cloud, qint64 reconstructMs)
{
    QJsonObject report = decodeReport(request.sets, run);
    report["calibration"] = request.calibrationPath;
    report["points"] = cloud.points;
    report["depth_range_mm"] = cloud.points > 0 ? QJsonArray{cloud.nearest, cloud.farthest}
                                                : QJsonArray{QJsonValue(), QJsonValue()};
    QJsonObject times = report["timing"].toObject();
    times["reconstruct_ms"] = reconstructMs;
    report["timing"] = times;
    return report;
}

// The three results staged and put in place together.
int writeResults(OutputSet &outputs, const Reconstruction &cloud, const QJsonObject &report)
{
    const QByteArray ply = pointCloudPly(cloud);
    const QByteArray npy = float32Npy(cloud.depth, cloud.height, cloud.width);
    const QByteArray json = QJsonDocument(report).toJson(QJsonDocument::Indented);
    const auto whole = [](const QByteArray &bytes) {
        return [&bytes](QFile &f) { return f.write(bytes) == bytes.size(); };
    };
    if (!stageFile(outputs, kName, "points.ply", whole(ply)) ||
        !stageFile(outputs, kName, "depth.npy", whole(npy)) ||
        !stageFile(outputs, kName, "report.json", whole(json)))
        return ExitFailed;
    return commitOutputs(outputs, kName);
}

void printSummary(const Request &request, const DecodeRun &run, const Reconstruction &cloud)
{
    printDecodeSummary(request.sets, run);
    if (cloud.points > 0)
        outLine(QString("%1 points, z from %2 to %3 mm")
                    .arg(cloud.points)
                    .arg(cloud.nearest, 0, 'f', 1)
                    .arg(cloud.farthest, 0, 'f', 1));
    else
        outLine("no point measured");
    outLine(QString("results in %1").arg(QDir::toNativeSeparators(request.outDir)));
}

int reconstructRun(const QCommandLineParser &parser)
{
    int rc = -1;
    Request request;
    if ((rc = checkOptions(parser, &request)) >= 0)
        return rc;
    // As for decode: OUTDIR must take the results before any input is read,
    // and holds the earlier set or the new one whatever ends the run.
    OutputSet outputs("reconstruct", request.outDir, kOutputNames);
    std::unique_ptr<StopGuard> guard;
    if ((rc = prepareOutputs(outputs, kName, request.outDir, &guard)) >= 0)
        return rc;
    if ((rc = readInputs(parser, &request)) >= 0)
        return rc;
    if ((rc = checkCaptureSize(request)) >= 0)
        return rc;

    DecodeRun run;
    if ((rc = decodeCaptureStack(kName, request.sets, request.capturePaths,
                                 outputs.stagedPath("captures.scratch"), &run, true,
                                 kCloudBytesPerPixel)) >= 0)
        return rc;
    QElapsedTimer timer;
    timer.start();
    const Reconstruction cloud =
        reconstruct(request.camera, request.sheets, run.decoded, run.light(request.sets.plan));
    const QJsonObject report = reconstructionReport(request, run, cloud, timer.elapsed());
    if ((rc = writeResults(outputs, cloud, report)) >= 0)
        return rc;

    if (parser.isSet("json"))
        outLine(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
    else
        printSummary(request, run, cloud);
    return run.check.consistent ? ExitOk : ExitFailed;
}

int run(const Call &call)
{
    // OUTDIR stays as it was when memory runs out.
    return unlessMemoryRunsOut(kName, [&call] { return reconstructRun(call.parser); });
}

} // namespace

} // namespace cli
