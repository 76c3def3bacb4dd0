// dvkctl analyze: the sets of a generated file decode as intended, a changed
// line is named, and bad usage and unreadable input are refused.
#include "support/core/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestCliAnalyze : public QObject
{
    Q_OBJECT

private slots:
    void dvkctlAnalyze()
    {
        const QString dir = makeTempDir();
        const QString file = dir + "/sets.txt";
        const auto generate = [&](const QStringList &args) {
            QCOMPARE(runDvkctl(QStringList{"generate"} + args + QStringList{"-o", file}), 0);
        };
        generate({"gray", "--scan-value", "10000", "--bits", "4"});
        generate({"phase", "--scan-value", "10000", "--steps", "4", "--stripes", "16"});
        generate({"square", "--scan-value", "10000", "--stripes", "8"});
        const QStringList sets = {"analyze",  file,    "--scan-value", "10000", "--set",
                                  "gray:4@1", "--set", "phase:4x16@5", "--set", "square:8@9"};

        QByteArray out, err;
        QCOMPARE(runDvkctl(sets, &out, &err), 0);
        QVERIFY(err.isEmpty());
        QVERIFY(out.contains("gray:4@1: decodes as intended"));
        QVERIFY(out.contains("phase:4x16@5: decodes as intended"));
        QVERIFY(out.contains("square:8@9: decodes as intended"));
        QVERIFY(out.contains("stripes without a sample: 0 of 16"));

        QCOMPARE(runDvkctl(sets + QStringList{"--json"}, &out), 0);
        QJsonObject o = QJsonDocument::fromJson(out).object();
        QCOMPARE(o["ok"].toBool(), true);
        QCOMPARE(o["scan_value"].toInt(), 10000);
        QJsonArray list = o["sets"].toArray();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].toObject()["monotonic"].toBool(), true);
        QCOMPARE(list[0].toObject()["empty_stripes"].toInt(), 0);
        QVERIFY(list[1].toObject()["max_deviation_rad"].toDouble() <
                list[1].toObject()["bound_rad"].toDouble());
        QCOMPARE(list[2].toObject()["decoded_stripes"].toInt(), 8);
        QCOMPARE(list[2].toObject()["duty"].toArray().size(), 4);

        // One line changed in the square set, written as a window would.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = f.readAll().split('\n');
        f.close();
        const int changed = 8 * 1024 + 300; // 0-based, square pattern 1
        lines[changed] = lines[changed] == "0x00" ? "0xFF" : "0x00";
        const QString corrupt = dir + "/corrupt.txt";
        QFile g(corrupt);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write(lines.join("\r\n")); // line ends as written on Windows
        g.close();
        QStringList corruptArgs = sets;
        corruptArgs[1] = corrupt;
        QCOMPARE(runDvkctl(corruptArgs, &out), 1);
        QVERIFY(out.contains("gray:4@1: decodes as intended"));
        QVERIFY(out.contains("square:8@9: FAILS"));
        QVERIFY(out.contains(QByteArray("line ") + QByteArray::number(changed + 1)));
        QCOMPARE(runDvkctl(corruptArgs + QStringList{"--json"}, &out), 1);
        o = QJsonDocument::fromJson(out).object();
        QCOMPARE(o["ok"].toBool(), false);
        const QJsonObject square = o["sets"].toArray()[2].toObject();
        QCOMPARE(square["ok"].toBool(), false);
        QCOMPARE(square["first_fault"].toObject()["line"].toInt(), changed + 1);

        // A set past the end of the file is bad input, as for decode.
        QCOMPARE(
            runDvkctl({"analyze", file, "--scan-value", "10000", "--set", "gray:4@12"}, &out, &err),
            2);
        QVERIFY2(err.contains("gray:4@12 uses pages 12 to 15; '" + file.toUtf8() +
                              "' holds 12 whole pages"),
                 err.constData());

        // Bad usage and unreadable input.
        const QList<QStringList> usage = {
            {"analyze", file, "--set", "gray:4@1"},
            {"analyze", file, "--scan-value", "0", "--set", "gray:4@1"},
            {"analyze", file, "--scan-value", "16277", "--set", "gray:4@1"},
            {"analyze", file, "--scan-value", "ten", "--set", "gray:4@1"},
            {"analyze", file, "--scan-value", "10000"},
            {"analyze", file, "--scan-value", "10000", "--set", "gray:11@1"},
            {"analyze", file, "--scan-value", "10000", "--set", "phase:4@1"},
            {"analyze", "--scan-value", "10000", "--set", "gray:4@1"},
            {"analyze", dir + "/missing.txt", "--scan-value", "10000", "--set", "gray:4@1"},
        };
        for (const QStringList &args : usage) {
            QCOMPARE(runDvkctl(args, &out, &err), 2);
            QVERIFY2(!err.isEmpty(), qPrintable(args.join(' ')));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliAnalyze)
#include "tst_cli_analyze.moc"
