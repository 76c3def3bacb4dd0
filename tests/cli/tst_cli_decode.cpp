// dvkctl decode from the outside: a file made by dvkctl generate, captures
// rendered to image files, the results it writes and how it refuses input.
#include "analysis/CaptureDecoder.h"
#include "analysis/CaptureImages.h"
#include "analysis/PatternAnalysis.h"
#include "support/core/CaptureRenderer.h"
#include "support/core/ChildSetupProcess.h"
#include "support/core/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QStringList kSets{"--set", "gray:6@1", "--set", "phase:4x32@7",
                        "--set", "dark@11",  "--set", "light@12"};

// The CRC of a PNG chunk, big-endian.
QByteArray crc32Of(const QByteArray &bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        c ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    c ^= 0xFFFFFFFFu;
    return QByteArray::fromHex(QByteArray::number(c, 16).rightJustified(8, '0'));
}

QJsonObject jsonOf(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// Every entry of a folder with its bytes; report.json without its timings,
// which differ from run to run.
QMap<QString, QByteArray> contentsOf(const QString &folder)
{
    QMap<QString, QByteArray> files;
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        QByteArray bytes = readAll(folder + "/" + name);
        if (name == "report.json") {
            QJsonObject report = jsonOf(bytes);
            report.remove("timing");
            bytes = QJsonDocument(report).toJson();
        }
        files[name] = bytes;
    }
    return files;
}

// dvkctl as the user nobody; its exit code.
int runAsNobody(const QStringList &args)
{
    ChildSetupProcess p([] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
    });
    p.start(DVKCTL_PATH, args);
    if (!p.waitForFinished(60000))
        return -2;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

// dvkctl with every write past `bytes` into a file failing, as on a disk
// that fills up.
int runWithFileLimit(const QStringList &args, qint64 bytes)
{
    ChildSetupProcess p([bytes] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(DVKCTL_PATH, args);
    if (!p.waitForFinished(60000))
        return -2;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

} // namespace

class TestCliDecode : public QObject
{
    Q_OBJECT

    QString dir;
    QString file;     // pattern file: gray 6, phase 4 x 32, dark, light
    QString captures; // directory of the 12 captures, named 1.png .. 12.png
    RenderedCaptures rendered;

    QStringList decodeArgs(const QStringList &inputs, const QString &out) const
    {
        return QStringList{"decode", file, "--scan-value", "10000"} + kSets + inputs +
               QStringList{"-o", out};
    }

private slots:
    void initTestCase()
    {
        dir = makeTempDir();
        file = dir + "/patterns.txt";
        QByteArray err;
        QCOMPARE(runDvkctl({"generate", "gray", "--scan-value", "10000", "--bits", "6", "-o", file},
                           nullptr, &err),
                 0);
        QCOMPARE(runDvkctl({"generate", "phase", "--scan-value", "10000", "--steps", "4",
                            "--stripes", "32", "-o", file}),
                 0);
        QCOMPARE(runDvkctl({"generate", "dark", "-o", file}), 0);
        QCOMPARE(runDvkctl({"generate", "light", "-o", file}), 0);

        const PatternFileValues values = readPatternFileValues(file, kMaxBurnSamples);
        QCOMPARE(int(values.values.size()), 12 * kSamplesPerPage);
        std::vector<std::vector<int>> pages;
        for (int p = 0; p < 12; ++p)
            pages.emplace_back(values.values.begin() + p * kSamplesPerPage,
                               values.values.begin() + (p + 1) * kSamplesPerPage);
        rendered = renderCaptures(CaptureScene(), computeScanTiming(10000.0f), pages);
        // Names that sort wrongly as plain text: 10.png before 2.png.
        captures = dir + "/captures";
        QDir().mkpath(captures);
        for (int p = 0; p < 12; ++p)
            QVERIFY(rendered.image(p).save(QString("%1/%2.png").arg(captures).arg(p + 1)));
    }

    void decodesAndWritesResults()
    {
        const QString out = dir + "/out";
        QByteArray stdOut, stdErr;
        QCOMPARE(runDvkctl(decodeArgs({captures}, out) << "--json", &stdOut, &stdErr), 0);
        const QJsonObject report = jsonOf(stdOut);
        QFile reportFile(out + "/report.json");
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        QCOMPARE(jsonOf(reportFile.readAll()), report);

        QCOMPARE(report["width"].toInt(), 320);
        QCOMPARE(report["height"].toInt(), 256);
        QCOMPARE(report["verdict"].toString(), QString("consistent"));
        QVERIFY(report["problems"].toArray().isEmpty());
        const double valid = report["valid_fraction"].toDouble();
        QVERIFY(valid > 0.85 && valid < 1.0);
        const QJsonArray sets = report["sets"].toArray();
        QCOMPARE(sets.size(), 4);
        QCOMPARE(sets[1].toObject()["kind"].toString(), QString("phase"));
        QCOMPARE(sets[1].toObject()["pages"].toArray(), (QJsonArray{7, 8, 9, 10}));
        QCOMPARE(sets[3].toObject()["kind"].toString(), QString("light"));
        const QJsonArray pages = report["pages"].toArray();
        QCOMPARE(pages.size(), 12);
        for (int p = 0; p < 12; ++p) {
            const QJsonObject o = pages[p].toObject();
            QCOMPARE(o["page"].toInt(), p + 1);
            QCOMPARE(o["capture"].toInt(), p + 1);
            QCOMPARE(o["best_page"].toInt(), p + 1);
            QVERIFY(o["match"].toDouble() >= 0.9);
            // Patterns have a contrast; the references none.
            QCOMPARE(o["contrast"].isNull(), p >= 10);
        }

        // The same captures decoded here: position.npy holds exactly those
        // positions, NaN where not valid, in NumPy's format 1.0.
        std::vector<CaptureImage> images(12);
        std::vector<const float *> planes;
        for (int p = 0; p < 12; ++p) {
            QString why;
            QVERIFY(readCaptureImage(QString("%1/%2.png").arg(captures).arg(p + 1), QSize(320, 256),
                                     &images[size_t(p)], &why));
            planes.push_back(images[size_t(p)].grey.data());
        }
        std::vector<CaptureSetRequest> requests;
        for (const char *text : {"gray:6@1", "phase:4x32@7", "dark@11", "light@12"}) {
            CaptureSetRequest r;
            QString why;
            QVERIFY(parseCaptureSetRequest(text, &r, &why));
            requests.push_back(r);
        }
        CapturePlan plan;
        QString why;
        QVERIFY(planCaptureDecode(requests, &plan, &why));
        const DecodedPositions d =
            CaptureDecoder(plan, computeScanTiming(10000.0f)).decode(planes, 320, 256);
        QCOMPARE(report["valid_fraction"].toDouble(), std::round(d.validFraction() * 1e4) / 1e4);

        QFile npy(out + "/position.npy");
        QVERIFY(npy.open(QIODevice::ReadOnly));
        const QByteArray bytes = npy.readAll();
        QVERIFY(bytes.startsWith(QByteArray("\x93NUMPY\x01\x00", 8)));
        const int headerLength = qFromLittleEndian<quint16>(bytes.constData() + 8);
        QCOMPARE((10 + headerLength) % 64, 0);
        const QByteArray header = bytes.mid(10, headerLength);
        QVERIFY2(
            header.startsWith("{'descr': '<f4', 'fortran_order': False, 'shape': (256, 320), }"),
            header.constData());
        QVERIFY(header.endsWith('\n'));
        QCOMPARE(bytes.size(), 10 + headerLength + 320 * 256 * 4);
        const QImage png(out + "/position.png");
        const QImage validPng(out + "/valid.png");
        const QImage colour(out + "/position-colour.png");
        QCOMPARE(png.format(), QImage::Format_Grayscale16);
        QCOMPARE(validPng.size(), QSize(320, 256));
        QCOMPARE(colour.size(), QSize(320, 256));
        qint64 validPixels = 0;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 320; ++x) {
                const size_t i = size_t(y) * 320 + size_t(x);
                const float u =
                    qFromLittleEndian<float>(bytes.constData() + 10 + headerLength + 4 * qint64(i));
                const quint16 level = reinterpret_cast<const quint16 *>(png.constScanLine(y))[x];
                const bool ok = d.valid[i];
                validPixels += ok;
                QCOMPARE(qGray(validPng.pixel(x, y)), ok ? 255 : 0);
                if (!ok) {
                    QVERIFY(std::isnan(u));
                    QCOMPARE(level, quint16(0));
                    QCOMPARE(colour.pixel(x, y) & 0xFFFFFF, 0u);
                    continue;
                }
                QVERIFY(std::memcmp(&u, &d.position[i], sizeof(float)) == 0);
                QCOMPARE(int(level), 1 + int(std::round((double(u) + 1.0) / 2.0 * 65534.0)));
            }
        QCOMPARE(validPixels, d.validCount);
    }

    // Grey and colour, 8 and 16 bits, in every format the captures may come
    // in; a channel at full scale counts as saturated.
    void imageFormats_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("png 8") << "a.png" << int(QImage::Format_Grayscale8) << 0.0;
        QTest::newRow("png 16") << "a.png" << int(QImage::Format_Grayscale16) << 0.0;
        QTest::newRow("tiff 16") << "a.tif" << int(QImage::Format_Grayscale16) << 0.0;
        QTest::newRow("tiff colour") << "a.tiff" << int(QImage::Format_RGB32) << 0.0;
        QTest::newRow("bmp colour") << "a.bmp" << int(QImage::Format_RGB32) << 0.0;
        QTest::newRow("jpeg") << "a.jpg" << int(QImage::Format_Grayscale8) << 3.0 / 255;
        QTest::newRow("png colour 16") << "a.png" << int(QImage::Format_RGBX64) << 0.0;
    }
    void imageFormats()
    {
        QFETCH(QString, name);
        QFETCH(int, format);
        QFETCH(double, tolerance);
        // A smooth ramp (JPEG keeps it) with one full-scale corner.
        QImage image(64, 48, QImage::Format(format));
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const int v = (x + y) * 2; // 0 .. 220
                image.setPixelColor(x, y, QColor(v, v, v));
            }
        const QColor colour(40, 120, 255);
        if (image.isGrayscale()) {
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    image.setPixelColor(x, y, Qt::white);
        } else {
            image.setPixelColor(0, 0, colour); // blue clipped
            image.setPixelColor(1, 0, QColor(40, 120, 200));
        }
        const QString path = makeTempDir() + "/" + name;
        QVERIFY(image.save(path, nullptr, 95));
        CaptureImage c;
        QString why;
        QVERIFY2(readCaptureImage(path, QSize(64, 48), &c, &why), qPrintable(why));
        QCOMPARE(c.width, 64);
        QCOMPARE(c.height, 48);
        QCOMPARE(c.bits,
                 format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64 ? 16 : 8);
        for (int y = 8; y < 48; ++y)
            for (int x = 8; x < 64; ++x)
                QVERIFY(std::fabs(c.grey[size_t(y * 64 + x)] - (x + y) * 2 / 255.0) <=
                        tolerance + 1e-6);
        if (image.isGrayscale()) {
            QVERIFY(c.grey[0] >= kSaturatedLevel);
        } else {
            QCOMPARE(c.grey[0], 1.0f);
            QVERIFY(std::fabs(c.grey[1] - (0.299 * 40 + 0.587 * 120 + 0.114 * 200) / 255) < 1e-3);
        }
    }

    void refusesInputItCannotUse()
    {
        const QString out = dir + "/refused";
        QStringList twelve;
        for (int p = 1; p <= 12; ++p)
            twelve << QString("%1/%2.png").arg(captures).arg(p);
        const QString small = dir + "/small.png";
        QVERIFY(QImage(32, 32, QImage::Format_Grayscale8).save(small));
        const QString notImage = writeLines(dir + "/notimage.png", {"hello"});

        struct Case {
            QStringList args;
            QString message;
        };
        QStringList missing = twelve;
        missing[4] = dir + "/none.png";
        QStringList sized = twelve;
        sized[11] = small;
        QStringList unreadable = twelve;
        unreadable[2] = notImage;
        const QList<Case> cases = {
            {decodeArgs(missing, out), "capture '" + dir + "/none.png' does not exist"},
            {decodeArgs(sized, out), "capture '" + small + "' is 32 x 32 pixels"},
            {decodeArgs(unreadable, out), "cannot read capture '" + notImage + "'"},
            {decodeArgs(twelve.mid(1), out), "11 captures given; the sets use 12 pages"},
            {{"decode", file, "--scan-value", "10000", "--set", "phase:4x32@7", captures, "-o",
              out},
             "give a Gray-code set to number its periods"},
            {{"decode", file, "--scan-value", "10000", "--set", "gray:6@9", captures, "-o", out},
             "holds 12 whole pages; the sets use pages up to 14"},
            // The file's pages 1 to 6 are not a 5-bit Gray code.
            {{"decode", file, "--scan-value", "10000", "--set", "gray:5@2", captures, "-o", out},
             "gray:5@2 does not decode as the generator lays it out"},
            {{"decode", file, "--scan-value", "10000", "--set", "gray:6@1", "--set", "light@11",
              captures, "-o", out},
             "light@11: line 10241 holds 0x0, not 0xff throughout"},
            {decodeArgs({captures}, QString()).mid(0, 12) << captures, "-o OUTDIR is required"},
            // OUTDIR is checked before any capture is read.
            {decodeArgs(unreadable, "/proc"), "-o: cannot write results to '/proc'"},
            {decodeArgs(unreadable, notImage + "/out"), "-o: cannot write results to '" + notImage},
        };
        for (const Case &c : cases) {
            QByteArray stdErr;
            QCOMPARE(runDvkctl(c.args, nullptr, &stdErr), 2);
            QVERIFY2(stdErr.contains(c.message.toUtf8()), stdErr.constData());
        }
        QVERIFY(!QFileInfo::exists(out));
    }

    // Hostile images and folders: a decompression bomb, entries that would
    // block an open, outputs that would replace inputs or follow a link.
    void hostileImagesAndFolders()
    {
        QStringList twelve;
        for (int p = 1; p <= 12; ++p)
            twelve << QString("%1/%2.png").arg(captures).arg(p);
        QByteArray stdErr;

        // A PNG header claiming 60000 x 60000 pixels: refused from its header.
        QByteArray bomb = readAll(twelve[11]);
        bomb.replace(16, 8, QByteArray::fromHex("0000ea600000ea60"));
        bomb.replace(29, 4, crc32Of(bomb.mid(12, 17)));
        QStringList bombed = twelve;
        bombed[11] = writeBytes(dir + "/bomb.png", bomb);
        QCOMPARE(runDvkctl(decodeArgs(bombed, dir + "/bombed"), nullptr, &stdErr, 20000), 2);
        QVERIFY2(stdErr.contains("bomb.png': it claims 60000 x 60000 pixels"), stdErr.constData());

        // Captures that would take more memory than decode may use, 16-bit
        // colour with alpha at the largest size allowed: refused from their
        // headers, naming what they would need.
        QByteArray wide = readAll(twelve[11]);
        wide.replace(16, 10, QByteArray::fromHex("00002710000027101006"));
        wide.replace(29, 4, crc32Of(wide.mid(12, 17)));
        QStringList wides;
        for (int p = 0; p < 12; ++p)
            wides << writeBytes(dir + "/wide.png", wide);
        QCOMPARE(runDvkctl(decodeArgs(wides, dir + "/wideOut"), nullptr, &stdErr, 20000), 2);
        QVERIFY2(stdErr.contains("12 captures of 10000 x 10000 pixels needs about"),
                 stdErr.constData());

        // A folder with a pipe, a device and a looping link among the
        // captures: those are named and skipped, nothing blocks.
        const QString mixed = dir + "/mixed";
        QDir().mkpath(mixed);
        for (int p = 1; p <= 12; ++p)
            QVERIFY(QFile::link(twelve[p - 1], QString("%1/cap%2.png").arg(mixed).arg(p)));
        QCOMPARE(QProcess::execute("mkfifo", {mixed + "/cap3a.png"}), 0);
        QVERIFY(QFile::link("/dev/ptmx", mixed + "/cap4a.png"));
        QVERIFY(QFile::link(mixed + "/cap5a.png", mixed + "/cap5a.png"));
        QCOMPARE(runDvkctl(decodeArgs({mixed}, dir + "/mixedOut"), nullptr, &stdErr, 20000), 0);
        for (const char *name : {"cap3a.png", "cap4a.png", "cap5a.png"})
            QVERIFY2(stdErr.contains(QByteArray("skipping '") + mixed.toUtf8() + "/" + name),
                     stdErr.constData());

        // Outputs that would replace an input, by name or by a hard link.
        const QString overlap = dir + "/overlap";
        QDir().mkpath(overlap);
        QStringList named = twelve;
        named[3] = overlap + "/valid.png";
        QVERIFY(QFile::copy(twelve[3], named[3]));
        QVERIFY(::link(QFile::encodeName(file).constData(),
                       QFile::encodeName(overlap + "/report.json").constData()) == 0);
        const QByteArray pattern = readAll(file), capture = readAll(named[3]);
        QCOMPARE(runDvkctl(decodeArgs(named, overlap), nullptr, &stdErr), 2);
        QVERIFY2(stdErr.contains("valid.png' is the input"), stdErr.constData());
        QVERIFY(QFile::remove(named[3]));
        QCOMPARE(runDvkctl(decodeArgs(twelve, overlap), nullptr, &stdErr), 2);
        QVERIFY2(stdErr.contains("report.json' is the input"), stdErr.constData());
        QCOMPARE(readAll(file), pattern);
        QCOMPARE(QDir(overlap).entryList(QDir::Files), QStringList{"report.json"});

        // A link planted at an output name is replaced, not written through;
        // another user's, in a folder anyone may write to, is refused.
        const QString shared = dir + "/shared";
        QDir().mkpath(shared);
        QVERIFY(QFile::setPermissions(shared, QFile::Permissions(0x7777)));
        const QString victim = writeLines(dir + "/victim", {"mine"});
        QVERIFY(QFile::link(victim, shared + "/position.png"));
        QCOMPARE(runDvkctl(decodeArgs(twelve, shared)), 0);
        QCOMPARE(readAll(victim), QByteArray("mine\n"));
        QVERIFY(!QFileInfo(shared + "/position.png").isSymLink());
        if (::geteuid() != 0)
            return;
        for (const QString &name : {shared + "/valid.png", shared + "/out.png", shared + "/gen"}) {
            QFile::remove(name);
            QVERIFY(QFile::link(victim, name));
            QVERIFY(::lchown(QFile::encodeName(name).constData(), 65534, 65534) == 0);
        }
        QCOMPARE(runDvkctl(decodeArgs(twelve, shared), nullptr, &stdErr), 2);
        QCOMPARE(runDvkctl({"preview", file, "-o", shared + "/out.png"}, nullptr, &stdErr), 2);
        QCOMPARE(runDvkctl({"generate", "dark", "-o", shared + "/gen"}, nullptr, &stdErr), 2);
        QVERIFY2(stdErr.contains("link owned by another user"), stdErr.constData());
        QCOMPARE(readAll(victim), QByteArray("mine\n"));
    }

    // OUTDIR holds the whole earlier set of results or the whole new one,
    // and nothing else, however the run ends: writes failing part-way (a
    // disk filling up), a stop signal at any moment, a run killed outright.
    void resultsReplacedAsOneSet()
    {
        const QString out = dir + "/set";
        QStringList grayArgs{"decode", file, "--scan-value", "10000", "--set", "gray:6@1"};
        for (int p = 1; p <= 6; ++p)
            grayArgs << QString("%1/%2.png").arg(captures).arg(p);
        grayArgs << "-o" << out;
        QCOMPARE(runDvkctl(decodeArgs({captures}, dir + "/setNew")), 0);
        const QMap<QString, QByteArray> newer = contentsOf(dir + "/setNew");
        QCOMPARE(runDvkctl(grayArgs), 0);
        const QMap<QString, QByteArray> earlier = contentsOf(out);
        QCOMPARE(earlier.size(), 5);
        QVERIFY(earlier != newer);

        for (const qint64 limit : {4096, 300000}) {
            QCOMPARE(runWithFileLimit(decodeArgs({captures}, out), limit), 1);
            QCOMPARE(contentsOf(out), earlier);
        }
        QCOMPARE(runWithFileLimit(decodeArgs({captures}, dir + "/never"), 200000), 1);
        QVERIFY(!QFileInfo::exists(dir + "/never"));

        for (int delay = 0; delay <= 800; delay += 40) {
            const int sig = delay % 80 ? SIGINT : SIGTERM;
            RunningProgram run = startDvkctl(decodeArgs({captures}, out));
            QThread::msleep(ulong(delay));
            run.signal(sig);
            const int code = run.finish().code;
            const QMap<QString, QByteArray> now = contentsOf(out);
            QVERIFY2(now == earlier || now == newer, qPrintable(now.keys().join(' ')));
            // -3: ended by the signal before it could be caught.
            if (now == earlier) {
                QVERIFY2(code == 128 + sig || code == -3, qPrintable(QString::number(code)));
            } else {
                QVERIFY(code == 0 || code == 128 + sig);
                QCOMPARE(runDvkctl(grayArgs), 0);
            }
        }

        // Killed outright, a run leaves its staging folder to the next.
        RunningProgram killed = startDvkctl(decodeArgs({captures}, out));
        QThread::msleep(150);
        killed.signal(SIGKILL);
        killed.finish();
        QCOMPARE(runDvkctl(grayArgs), 0);
        QCOMPARE(contentsOf(out), earlier);

        // Killed while replacing: two new files in place, the earlier ones
        // aside, three still staged. The next run puts the earlier set back
        // before anything else, even a run that then fails.
        const QString stale = out + "/.dvkctl-decode-2147483646.partial";
        const QStringList names{"position.npy", "position.png", "valid.png", "position-colour.png",
                                "report.json"};
        QVERIFY(QDir().mkpath(stale + "/.replaced"));
        writeBytes(stale + "/.names", names.join('\n').toUtf8());
        for (int k = 0; k < names.size(); ++k) {
            const QString target = k < 2 ? out + "/" + names[k] : stale + "/" + names[k];
            if (k < 2)
                QVERIFY(QFile::rename(target, stale + "/.replaced/" + names[k]));
            QVERIFY(QFile::copy(dir + "/setNew/" + names[k], target));
        }
        QStringList broken{writeLines(dir + "/broken.png", {"hello"})};
        for (int p = 2; p <= 12; ++p)
            broken << QString("%1/%2.png").arg(captures).arg(p);
        QCOMPARE(runDvkctl(decodeArgs(broken, out)), 2);
        QCOMPARE(contentsOf(out), earlier);
    }

    // report.json left by another user in a folder anyone may write to
    // (sticky, so it cannot be moved): the four files replaced before it
    // are put back, and the folder holds the earlier set.
    void unreplaceableReportLeavesEarlierSet()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to be two users");
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        const QString out = dir + "/sticky";
        QVERIFY(QDir().mkpath(out));
        QVERIFY(::chmod(QFile::encodeName(out).constData(), 01777) == 0);
        QStringList grayArgs{"decode", file, "--scan-value", "10000", "--set", "gray:6@1"};
        for (int p = 1; p <= 6; ++p)
            grayArgs << QString("%1/%2.png").arg(captures).arg(p);
        QCOMPARE(runAsNobody(grayArgs << "-o" << out), 0);
        QVERIFY(::chown(QFile::encodeName(out + "/report.json").constData(), 0, 0) == 0);
        const QMap<QString, QByteArray> earlier = contentsOf(out);
        QCOMPARE(earlier.size(), 5);
        QCOMPARE(runAsNobody(decodeArgs({captures}, out)), 1);
        QCOMPARE(contentsOf(out), earlier);
    }

    // Captures out of order are a problem the check names (exit 1), in the
    // text form as in the report.
    void namesCapturesOutOfOrder()
    {
        QStringList files;
        for (int p = 1; p <= 12; ++p)
            files << QString("%1/%2.png").arg(captures).arg(p);
        files.swapItemsAt(7, 8);
        const QString out = dir + "/swapped";
        QByteArray stdOut;
        QCOMPARE(runDvkctl(decodeArgs(files, out), &stdOut), 1);
        QVERIFY2(stdOut.contains("verdict: problems\n  problem: capture 8 shows page 9\n"
                                 "  problem: capture 9 shows page 8\n"),
                 stdOut.constData());
        QFile reportFile(out + "/report.json");
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        const QJsonObject report = jsonOf(reportFile.readAll());
        QCOMPARE(report["verdict"].toString(), QString("problems"));
        QCOMPARE(report["pages"].toArray()[7].toObject()["best_page"].toInt(), 9);
    }
};

QTEST_GUILESS_MAIN(TestCliDecode)
#include "tst_cli_decode.moc"
