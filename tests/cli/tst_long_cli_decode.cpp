// dvkctl decode at the largest captures it takes: 8 of 10000 x 10000 pixels
// decode in under a gigabyte, and within an address space of 4 GiB, where
// holding them whole would run out.
#include "support/core/ChildSetupProcess.h"
#include "support/core/TestSupport.h"

#include <QImage>
#include <QtTest>

#include <cstring>
#include <sys/resource.h>

class TestLongCliDecode : public QObject
{
    Q_OBJECT

private slots:
    void largestCapturesWithinMemory()
    {
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer reserves terabytes of shadow address space at start,
        // so a child under a 4 GiB address-space limit cannot even start.
        QSKIP("an address-space limit cannot hold a sanitized child");
#endif
        const QString dir = makeTempDir();
        const QString file = dir + "/patterns.txt";
        QCOMPARE(
            runDvkctl({"generate", "gray", "--scan-value", "10000", "--bits", "6", "-o", file}), 0);
        QCOMPARE(runDvkctl({"generate", "dark", "-o", file}), 0);
        QCOMPARE(runDvkctl({"generate", "light", "-o", file}), 0);
        // Stripes as the Gray pages light them, the same down every row: big
        // captures in small files.
        const int size = 10000, bits = 6;
        QStringList captures;
        QImage image(size, size, QImage::Format_Grayscale8);
        for (int page = 0; page < bits + 2; ++page) {
            uchar *first = image.scanLine(0);
            for (int x = 0; x < size; ++x) {
                const int stripe = x * (1 << bits) / size, code = stripe ^ (stripe >> 1);
                const bool lit = page < bits ? (code >> (bits - 1 - page)) & 1 : page == bits + 1;
                first[x] = lit ? 200 : 30;
            }
            for (int y = 1; y < size; ++y)
                std::memcpy(image.scanLine(y), first, size_t(size));
            captures << QString("%1/%2.png").arg(dir).arg(page + 1);
            QVERIFY(image.save(captures.last(), "PNG", 90));
        }
        image = QImage();

        ChildSetupProcess decode([] {
            const rlimit limit{rlim_t(4) << 30, rlim_t(4) << 30};
            ::setrlimit(RLIMIT_AS, &limit);
        });
        decode.start(DVKCTL_PATH, QStringList{"decode", file, "--scan-value", "10000", "--set",
                                              "gray:6@1", "--set", "dark@7", "--set", "light@8"} +
                                      captures + QStringList{"-o", dir + "/out"});
        QVERIFY(decode.waitForFinished(1000000));
        QCOMPARE(decode.exitStatus(), QProcess::NormalExit);
        QVERIFY2(decode.exitCode() == 0, decode.readAllStandardError().constData());
        QCOMPARE(QFileInfo(dir + "/out/position.npy").size(), qint64(size) * size * 4 + 128);
        // The largest of this test's children, in kB.
        rusage usage;
        QCOMPARE(::getrusage(RUSAGE_CHILDREN, &usage), 0);
        qInfo("peak memory %ld MB", usage.ru_maxrss / 1024);
        QVERIFY(usage.ru_maxrss < 1000000);
    }
};

QTEST_GUILESS_MAIN(TestLongCliDecode)
#include "tst_long_cli_decode.moc"
