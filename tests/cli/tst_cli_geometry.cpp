// dvkctl calibrate and reconstruct as a user runs them: rendered poses of a
// board in folders, CALIB.json, then a scene's point cloud and depth map.
// The projector here sweeps against the image's x axis.
#include "support/core/RigSupport.h"
#include "support/core/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace
{

const QStringList kSets{"--scan-value", "10000", "--set",   "gray:7@1", "--set",
                        "phase:4x64@8", "--set", "dark@12", "--set",    "light@13"};

QJsonObject jsonFile(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

// The calibration at `path` as if made at 6000 x 4000 pixels, beside it.
QString calibrationAtBigSize(const QString &path)
{
    QJsonObject calibration = jsonFile(path);
    QJsonObject camera = calibration["camera"].toObject();
    camera["width"] = 6000;
    camera["height"] = 4000;
    calibration["camera"] = camera;
    const QString big = path + ".big.json";
    QFile f(big);
    f.open(QIODevice::WriteOnly);
    f.write(QJsonDocument(calibration).toJson());
    return big;
}

} // namespace

class TestCliGeometry : public QObject
{
    Q_OBJECT

    QString dir, file, calib;
    QStringList poses;
    RigScene scene;
    RigRender render;

private slots:
    void initTestCase()
    {
        dir = makeTempDir();
        file = dir + "/patterns.txt";
        QCOMPARE(
            runDvkctl({"generate", "gray", "--scan-value", "10000", "--bits", "7", "-o", file}), 0);
        QCOMPARE(runDvkctl({"generate", "phase", "--scan-value", "10000", "--steps", "4",
                            "--stripes", "64", "-o", file}),
                 0);
        QCOMPARE(runDvkctl({"generate", "dark", "-o", file}), 0);
        QCOMPARE(runDvkctl({"generate", "light", "-o", file}), 0);

        const RigSets sets = rigSets();
        scene = rigScene(640, 512);
        scene.projector.axis = {0.0, -1.0, 0.0};
        const std::vector<RigObject> boards = eightBoardPoses();
        for (size_t p = 0; p < 6; ++p) {
            RigScene s = scene;
            s.objects = {boards[p]};
            s.look.seed = quint32(p + 3);
            poses << QString("%1/pose%2").arg(dir).arg(p + 1);
            writeRigCaptures(renderRig(s, sets.timing, sets.file.pages), poses.back());
        }
        scene.objects = rigTestScene();
        render = renderRig(scene, sets.timing, sets.file.pages);
        writeRigCaptures(render, dir + "/scene");
        calib = dir + "/calib.json";

        // Flat captures cheap to write, too many pixels to hold whole with
        // what calibrating or reconstructing keeps beside them.
        const QString big = dir + "/big";
        QDir().mkpath(big);
        QImage flat(6000, 4000, QImage::Format_Grayscale8);
        flat.fill(128);
        QVERIFY(flat.save(big + "/capture01.png"));
        for (int p = 2; p <= int(sets.file.pages.size()); ++p)
            QVERIFY(QFile::link(big + "/capture01.png",
                                QString("%1/capture%2.png").arg(big).arg(p, 2, 10, QChar('0'))));
    }

    void calibratesThenReconstructs()
    {
        QByteArray out, err;
        QCOMPARE(runDvkctl(QStringList{"calibrate", file} + kSets +
                               QStringList{"--board", "9x6:25", "-o", calib, "--json"} + poses,
                           &out, &err),
                 0);
        const QJsonObject c = QJsonDocument::fromJson(out).object();
        QCOMPARE(jsonFile(calib), c);
        QCOMPARE(c["verdict"].toString(), QString("good"));
        QCOMPARE(c["camera"].toObject()["matrix"].toArray().size(), 9);
        QCOMPARE(c["camera"].toObject()["distortion"].toArray().size(), 5);
        QVERIFY(c["camera"].toObject()["rms_px"].toDouble() < 0.3);
        QCOMPARE(c["projector"].toObject()["scan_value"].toInt(), 10000);
        QVERIFY(c["projector"].toObject()["rms_u"].toDouble() < 0.001);
        QCOMPARE(c["poses"].toArray().size(), 6);
        QCOMPARE(c["poses"].toArray()[0].toObject()["folder"].toString(), poses[0]);

        const QString outDir = dir + "/cloud";
        QCOMPARE(runDvkctl(QStringList{"reconstruct", file} + kSets +
                               QStringList{"--calibration", calib, dir + "/scene", "-o", outDir,
                                           "--json"},
                           &out, &err),
                 0);
        const QJsonObject report = QJsonDocument::fromJson(out).object();
        QCOMPARE(jsonFile(outDir + "/report.json"), report);
        QCOMPARE(report["verdict"].toString(), QString("consistent"));
        const qint64 points = qint64(report["points"].toDouble());
        const QJsonArray range = report["depth_range_mm"].toArray();
        QVERIFY(range[0].toDouble() > 550.0 && range[1].toDouble() < 900.0);

        // The cloud: its header's count, 13 bytes a vertex.
        const QByteArray ply = readAll(outDir + "/points.ply");
        const int end = ply.indexOf("end_header\n") + 11;
        QVERIFY(ply.startsWith("ply\nformat binary_little_endian 1.0\n"));
        QVERIFY(ply.contains(QString("element vertex %1\n").arg(points).toLatin1()));
        QCOMPARE(qint64(ply.size() - end), points * 13);

        // The depth map: as many numbers as measured points, near the truth,
        // none in the sphere's shadow.
        const QByteArray npy = readAll(outDir + "/depth.npy");
        QVERIFY(npy.contains("'shape': (512, 640)"));
        std::vector<float> depth(640 * 512);
        qFromLittleEndian<float>(npy.constData() + npy.size() - int(depth.size() * 4),
                                 qsizetype(depth.size()), depth.data());
        qint64 finite = 0;
        for (float z : depth)
            finite += std::isfinite(z);
        QCOMPARE(finite, points);
        const DepthError e = depthError(render, depth);
        qInfo("depth RMS %.4f %%, coverage %.4f", e.rmsPercent, e.coverage);
        QVERIFY(e.rmsPercent < 0.15);
        QVERIFY(e.coverage > 0.95);
        QVERIFY(e.shadowMeasured < e.shadowPixels / 100);
    }

    // A pose whose light reference shows another pose: its corners' places
    // and positions disagree. The fit is poor, said so, and still written.
    void poorFitIsReportedAndWritten()
    {
        const QString mixed = dir + "/mixed";
        QDir().mkpath(mixed);
        for (int c = 1; c <= 13; ++c) {
            const QString name = QString("capture%1.png").arg(c, 2, 10, QChar('0'));
            QVERIFY(QFile::copy((c == 13 ? poses[1] : poses[0]) + "/" + name, mixed + "/" + name));
        }
        const QString poor = dir + "/poor.json";
        QByteArray out, err;
        QCOMPARE(runDvkctl(QStringList{"calibrate", file} + kSets +
                                   QStringList{"--board", "9x6:25", "-o", poor} + poses.mid(1)
                               << mixed,
                           &out, &err),
                 1);
        QCOMPARE(jsonFile(poor)["verdict"].toString(), QString("poor"));
        QVERIFY(err.contains("far off the light sheets"));
    }

    void refusesBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("three poses")
            << QStringList{"calibrate", "--board", "9x6:25", "-o", "x.json", "P1", "P2", "P3"}
            << "at least 4";
        QTest::newRow("bad board")
            << QStringList{"calibrate", "--board", "9x6", "-o", "x.json", "P1", "P2", "P3", "P4"}
            << "COLSxROWS:SQUARE";
        QTest::newRow("no calibration")
            << QStringList{"reconstruct", "SCENE", "-o", "out"} << "--calibration";
        QTest::newRow("calibration not JSON")
            << QStringList{"reconstruct", "--calibration", "FILE", "SCENE", "-o", "out"}
            << "not a calibration";
        QTest::newRow("poses too large to hold")
            << QStringList{"calibrate", "--board", "9x6:25", "-o", "x.json",
                           "BIG",       "BIG",     "BIG",    "BIG"}
            << "13 captures of 6000 x 4000 pixels needs about";
        QTest::newRow("captures of another size")
            << QStringList{"reconstruct", "--calibration", "CALIB", "BIG", "-o", "out"}
            << "the captures are 6000 x 4000 pixels; the camera was calibrated at 640 x 512";
        QTest::newRow("captures too large to hold")
            << QStringList{"reconstruct", "--calibration", "BIGCALIB", "BIG", "-o", "out"}
            << "13 captures of 6000 x 4000 pixels needs about";
    }
    void refusesBadInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        args.replaceInStrings(QRegularExpression("^P(\\d)$"), dir + "/pose\\1");
        args.replaceInStrings("SCENE", dir + "/scene");
        args.replaceInStrings("FILE", file);
        args.replaceInStrings("BIGCALIB", calibrationAtBigSize(calib));
        args.replaceInStrings("CALIB", calib);
        args.replaceInStrings("BIG", dir + "/big");
        args.insert(1, file);
        args.append(kSets);
        QByteArray err;
        QCOMPARE(runDvkctl(args, nullptr, &err), 2);
        QVERIFY2(err.contains(message.toUtf8()), err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliGeometry)
#include "tst_cli_geometry.moc"
