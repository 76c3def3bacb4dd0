// dvkctl inspect and preview: exit codes, the JSON and text forms, the
// reasons a file cannot be burned, and the preview PNG's pixels.
#include "support/core/TestSupport.h"

#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace
{

QStringList lines(int n, int value = -1)
{
    QStringList l;
    l.reserve(n);
    for (int i = 0; i < n; ++i)
        l << "0x" + QString::number(value >= 0 ? value : i % 256, 16);
    return l;
}

QJsonObject inspectJson(const QString &file, int *code)
{
    QByteArray out, err;
    *code = runDvkctl({"inspect", file, "--json"}, &out, &err);
    return QJsonDocument::fromJson(out).object();
}

} // namespace

class TestCliInspect : public QObject
{
    Q_OBJECT

private:
    QString dir;
    QString file(const QString &name, const QStringList &l)
    {
        return writeLines(dir + "/" + name, l);
    }

private slots:
    void initTestCase() { dir = makeTempDir(); }

    void burnableFile()
    {
        const QString path = file("five.txt", lines(5120 + 100));
        int code = 0;
        const QJsonObject o = inspectJson(path, &code);
        QCOMPARE(code, 0);
        QCOMPARE(o["file"].toString(), path);
        QCOMPARE(o["values"].toInt(), 5220);
        QCOMPARE(o["min"].toInt(), 0);
        QCOMPARE(o["max"].toInt(), 255);
        QCOMPARE(o["pages"].toInt(), 5);
        QCOMPARE(o["tail"].toInt(), 100);
        QCOMPARE(o["burnable"].toBool(), true);
        QVERIFY(o["reason"].isNull());
        QVERIFY(o.contains("reason"));

        QByteArray out;
        QCOMPARE(runDvkctl({"inspect", path}, &out), 0);
        const QString text = QString::fromUtf8(out);
        QVERIFY(text.contains("values: 5220\n"));
        QVERIFY(text.contains("pages: 5\n"));
        QVERIFY(text.contains("tail: 100\n"));
        QVERIFY(text.contains("burnable: yes\n"));
    }

    void notBurnable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("content");
        QTest::addColumn<int>("values");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("reasonPart");
        QTest::addColumn<int>("line");

        QTest::newRow("empty") << "empty.txt" << QStringList() << 0 << 0 << "no whole pattern" << 0;
        QTest::newRow("500 lines")
            << "500.txt" << lines(500) << 500 << 0 << "no whole pattern" << 0;
        QTest::newRow("61441 lines")
            << "61441.txt" << lines(61441) << 61441 << 60 << "more than 61440" << 61441;
        QStringList bad = lines(3000);
        bad[1999] = "0x100";
        QTest::newRow("value above a byte") << "big.txt" << bad << 3000 << 2 << "line 2000" << 2000;
        QStringList neg = lines(1024);
        neg[10] = " -0x1 ";
        QTest::newRow("negative value") << "neg.txt" << neg << 1024 << 1 << "line 11" << 11;
    }
    void notBurnable()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, content);
        QFETCH(int, values);
        QFETCH(int, pages);
        QFETCH(QString, reasonPart);
        QFETCH(int, line);
        const QString path = file(name, content);
        int code = 0;
        const QJsonObject o = inspectJson(path, &code);
        QCOMPARE(code, 1);
        QCOMPARE(o["values"].toInt(), values);
        QCOMPARE(o["pages"].toInt(), pages);
        QCOMPARE(o["tail"].toInt(), values - pages * 1024);
        QCOMPARE(o["burnable"].toBool(), false);
        QVERIFY2(o["reason"].toString().contains(reasonPart), qPrintable(o["reason"].toString()));
        if (line)
            QCOMPARE(o["line"].toInt(), line);
        else
            QVERIFY(o["line"].isNull());
        // The text form names the reason too.
        QByteArray out;
        QCOMPARE(runDvkctl({"inspect", path}, &out), 1);
        QVERIFY(QString::fromUtf8(out).contains("burnable: no (" + o["reason"].toString() + ")"));
    }

    void oddSpellingsAndLineEndings()
    {
        // 1024 lines in the spellings a reader accepts, CR LF, no final LF.
        QByteArray bytes;
        const char *forms[] = {"FF", "0XFF", " 0xff ", "", "0x7f", "+0x1", "00a"};
        for (int i = 0; i < 1024; ++i)
            bytes += QByteArray(forms[i % 7]) + (i == 1023 ? "" : "\r\n");
        QFile f(dir + "/odd.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        int code = 0;
        const QJsonObject o = inspectJson(f.fileName(), &code);
        QCOMPARE(code, 0);
        QCOMPARE(o["values"].toInt(), 1024);
        QCOMPARE(o["min"].toInt(), 0);
        QCOMPARE(o["max"].toInt(), 255);
        QCOMPARE(o["pages"].toInt(), 1);
    }

    void usageAndUnreadable()
    {
        QByteArray out, err;
        QCOMPARE(runDvkctl({"inspect", dir + "/missing.txt"}, &out, &err), 2);
        QVERIFY(err.contains("missing.txt"));
        QVERIFY(out.isEmpty());
        QCOMPARE(runDvkctl({"inspect", dir}, &out, &err), 2);
        QCOMPARE(runDvkctl({"inspect"}, &out, &err), 2);
        QCOMPARE(runDvkctl({"inspect", "a.txt", "b.txt"}, &out, &err), 2);
        QCOMPARE(runDvkctl({"inspect", "--bogus"}, &out, &err), 2);
        QCOMPARE(runDvkctl({"inspect", "--help"}, &out, &err), 0);
        QVERIFY(out.contains("--json"));
    }

    // A name that holds a line break or bytes that are not UTF-8 prints as
    // one line that names the file: nothing in it can pose as a result line.
    void namesPrintedAsTheyAre()
    {
        const QByteArray raw = QFile::encodeName(dir) + "/evil\nburnable: yes\x1b[2J\xff.txt";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "0x01\n", 5), ssize_t(5));
        ::close(fd);
        QProcess run;
        run.start("sh", {"-c",
                         "exec \"$0\" inspect \"$1\"/evil\"$(printf '\\nburnable: "
                         "yes\\033[2J\\377.txt')\"",
                         DVKCTL_PATH, dir});
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitCode(), 1);
        const QByteArray out = run.readAllStandardOutput();
        QCOMPARE(out.count("\nburnable:"), 1);
        QVERIFY2(out.startsWith("file: " + QFile::encodeName(dir) +
                                "/evil\\nburnable: yes\\x1B[2J\\xFF.txt\n"),
                 out.constData());
    }

    void previewPng()
    {
        const QString dark = file("dark.txt", lines(2048, 0));
        const QString png = dir + "/dark.png";
        QByteArray out, err;
        QCOMPARE(runDvkctl({"preview", dark, "-o", png}, &out, &err), 0);
        QImage image(png);
        QCOMPARE(image.size(), QSize(1100, 280));
        // Waveform on the bottom edge of the upper half, white above; the
        // picture below is black.
        QCOMPARE(image.pixel(550, 139), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(550, 137), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(550, 20), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(550, 140), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(1099, 279), qRgb(0, 0, 0));

        // Page 2 of a file whose second page is light, at another size.
        QStringList two = lines(1024, 0) + lines(1024, 255);
        const QString mixed = file("mixed.txt", two);
        QCOMPARE(runDvkctl({"preview", mixed, "--page", "2", "--size", "400x50", "-o", png}), 0);
        image = QImage(png);
        QCOMPARE(image.size(), QSize(400, 100));
        QCOMPARE(image.pixel(200, 0), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(200, 75), qRgb(255, 0, 0));

        // A short file shows its lines on page 1.
        QCOMPARE(runDvkctl({"preview", file("short.txt", lines(500, 0)), "-o", png}), 0);
        image = QImage(png);
        QCOMPARE(image.pixel(100, 200), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(1000, 200), qRgb(255, 255, 255));

        // Names up to the system's longest (255 bytes here), some of them
        // ending in a character of several bytes: the new file written beside
        // the target must fit too, and no part of it may stay behind.
        const QString folder = makeTempDir();
        for (const QString &name : {QString(251, 'p') + ".png", QString(245, 'q') + ".png",
                                    QString(124, QChar(0x00E9)) + "xy.png"}) {
            QByteArray err;
            QCOMPARE(runDvkctl({"preview", dark, "-o", folder + "/" + name}, nullptr, &err), 0);
            QVERIFY2(err.isEmpty(), err.constData());
            QCOMPARE(QImage(folder + "/" + name).size(), QSize(1100, 280));
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    }

    void previewRefusals()
    {
        const QString path = file("p.txt", lines(2048));
        const QString png = dir + "/out.png";
        QByteArray err;
        QCOMPARE(runDvkctl({"preview", path, "--page", "3", "-o", png}, nullptr, &err), 2);
        QVERIFY(err.contains("3"));
        QCOMPARE(runDvkctl({"preview", path, "--page", "0", "-o", png}, nullptr, &err), 2);
        QCOMPARE(runDvkctl({"preview", path, "--page", "x", "-o", png}, nullptr, &err), 2);
        QCOMPARE(runDvkctl({"preview", path, "--size", "100", "-o", png}, nullptr, &err), 2);
        QVERIFY(err.contains("100"));
        QCOMPARE(runDvkctl({"preview", path, "--size", "0x10", "-o", png}, nullptr, &err), 2);
        QCOMPARE(runDvkctl({"preview", path, "--size", "99999x99999", "-o", png}, nullptr, &err),
                 2);
        QCOMPARE(runDvkctl({"preview", path}, nullptr, &err), 2);
        QCOMPARE(runDvkctl({"preview", dir + "/missing.txt", "-o", png}, nullptr, &err), 2);
        QVERIFY(!QFile::exists(png));
        QCOMPARE(runDvkctl({"preview", path, "-o", dir + "/no/such/dir/out.png"}, nullptr, &err),
                 2);
    }

    void dvkctlPreviewProjected()
    {
        const QString dir = makeTempDir();
        const QString file = dir + "/gray.txt";
        QCOMPARE(
            runDvkctl({"generate", "gray", "--scan-value", "10000", "--bits", "3", "-o", file}), 0);
        const QString plain = dir + "/plain.png";
        const QString projected = dir + "/projected.png";
        QCOMPARE(runDvkctl({"preview", file, "--page", "3", "--size", "1024x50", "-o", plain}), 0);
        QCOMPARE(runDvkctl({"preview", file, "--page", "3", "--size", "1024x50", "--projected",
                            "--scan-value", "10000", "-o", projected}),
                 0);

        // The picture row (lower half): widths of the red and black runs.
        auto widths = [](const QString &path) {
            const QImage image(path);
            QList<int> runs;
            QRgb previous = 0;
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, 75);
                if (x == 0 || c != previous)
                    runs << 0;
                ++runs.last();
                previous = c;
            }
            return runs;
        };
        const QList<int> plainRuns = widths(plain);
        const QList<int> projectedRuns = widths(projected);
        // Eight stripes of 1024 / 8 = 128 pixels: halves at the edges, four
        // whole ones between.
        QCOMPARE(projectedRuns.size(), 5);
        for (int k = 1; k < 4; ++k)
            QVERIFY2(std::abs(projectedRuns.at(k) - 256) <= 3, qPrintable(QString::number(k)));
        QCOMPARE(plainRuns.size(), 5);
        QVERIFY(plainRuns.first() - plainRuns.at(2) / 2 > 10);

        QByteArray err;
        QCOMPARE(runDvkctl({"preview", file, "--projected", "-o", projected}, nullptr, &err), 2);
        QVERIFY(err.contains("--scan-value"));
        QCOMPARE(
            runDvkctl({"preview", file, "--scan-value", "10000", "-o", projected}, nullptr, &err),
            2);
        QCOMPARE(
            runDvkctl({"preview", file, "--projected", "--scan-value", "16277", "-o", projected},
                      nullptr, &err),
            2);
    }
};

QTEST_GUILESS_MAIN(TestCliInspect)
#include "tst_cli_inspect.moc"
