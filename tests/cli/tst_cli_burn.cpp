// dvkctl burn against the projector simulator: the exact stream with its
// pauses, the refusals, and a device that goes away mid-transfer.
#include "support/core/Simulator.h"
#include "support/core/TestSupport.h"

#include "burn/BurnProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QtTest>

class TestCliBurn : public QObject
{
    Q_OBJECT

private slots:
    void streamAndPauses();
    void countdownWaitsTenMillisecondsPerValue();
    void refusals();
    void deviceGoneMidTransfer();
};

namespace
{

QStringList ramp(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(QString("0x%1").arg(i % 256, 2, 16, QChar('0')));
    return lines;
}

} // namespace

void TestCliBurn::streamAndPauses()
{
    const QString dir = makeTempDir();
    const QString record = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start({"--record", record}));

    // 1025 values: a block end after the 1024th, then block 1 with one value.
    QStringList lines = ramp(1025);
    lines[0] = "0x7F";
    lines[1] = "0xFF";
    lines[2] = "0x9f";
    lines[3] = "0xEC";
    lines[4] = "";
    const QString file = writeLines(dir + "/f.txt", lines);
    QByteArray out, err;
    QCOMPARE(runDvkctl({"burn", file, "--port", sim.path(), "--no-wait"}, &out, &err), 0);
    QVERIFY(sim.waitForEvents("transfer", 1));
    const QJsonObject t = sim.events("transfer").first();
    QCOMPARE(t["values"].toInt(), 1025);
    QCOMPARE(t["blocks"].toInt(), 2);
    QVERIFY(t["committed"].toBool());
    QVERIFY(t["errors"].toArray().isEmpty());
    // 1 + 15B + 5(B - 1) + N + 12
    QCOMPARE(qint64(t["bytes"].toDouble()), qint64(1 + 30 + 5 + 1025 + 12));

    QByteArray expected;
    for (const QString &l : lines)
        expected.append(char(burnprotocol::dataByte(quint8(l.toInt(nullptr, 16)))));
    const QByteArray got = recordedBytes(record);
    QCOMPARE(got.size(), 1025);
    QCOMPARE(got.left(5), QByteArray::fromHex("7EFE9EEC00"));
    QCOMPARE(got, expected);

    // The pauses sit after the right bytes: header of block 0 (offsets 11,
    // 12, 14, 16), block end and header of block 1, the commit. Each must
    // last at least 0.95 of its length. A pause is a sleep of the sender and
    // can only come out longer; but the simulator timestamps a byte when it
    // gets to read it, and a busy machine that is late with the byte before
    // a pause shortens the gap seen by a few milliseconds now and then. A
    // sleep that is too short is short in every transfer, so a gap that
    // measures short is measured again in up to two more transfers.
    const qint64 end0 = 16 + 1024; // first byte of block 0's end
    const QList<qint64> expectedGaps{11,        12,        14,        16,
                                     end0 + 2,  end0 + 4,  end0 + 5,  end0 + 15,
                                     end0 + 16, end0 + 18, end0 + 20, end0 + 20 + 1 + 11};
    QMap<qint64, QStringList> unconfirmed; // offset -> what each transfer showed
    for (qint64 offset : expectedGaps)
        unconfirmed.insert(offset, {});
    for (int transfer = 1; transfer <= 3 && !unconfirmed.isEmpty(); ++transfer) {
        if (transfer > 1) {
            QCOMPARE(runDvkctl({"burn", file, "--port", sim.path(), "--no-wait"}), 0);
            QVERIFY(sim.waitForEvents("transfer", transfer));
        }
        QMap<qint64, double> gaps;
        for (const QJsonValue &g : sim.events("transfer").at(transfer - 1)["gaps"].toArray())
            gaps.insert(qint64(g.toObject()["offset"].toDouble()), g.toObject()["ms"].toDouble());
        for (qint64 offset : unconfirmed.keys()) {
            const double nominalMs = offset == expectedGaps.last() ? 300 : 100;
            if (gaps.contains(offset) && gaps.value(offset) >= nominalMs * 0.95)
                unconfirmed.remove(offset);
            else
                unconfirmed[offset].append(gaps.contains(offset)
                                               ? QString("%1 ms").arg(gaps.value(offset))
                                               : QString("none"));
        }
    }
    QStringList shortPauses;
    for (auto it = unconfirmed.cbegin(); it != unconfirmed.cend(); ++it)
        shortPauses.append(QString("%1: %2").arg(it.key()).arg(it.value().join(", ")));
    QVERIFY2(unconfirmed.isEmpty(), qPrintable(shortPauses.join("; ")));
    QVERIFY(err.contains("commit command sent"));
}

void TestCliBurn::countdownWaitsTenMillisecondsPerValue()
{
    const QString dir = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start());
    const QString file = writeLines(dir + "/page.txt", ramp(1024));
    QElapsedTimer clock;
    clock.start();
    QByteArray out, err;
    QCOMPARE(runDvkctl({"burn", file, "--port", sim.path()}, &out, &err), 0);
    // 400 ms of header pauses, 300 ms before the commit, 10.24 s of commit time.
    QVERIFY2(clock.elapsed() >= 10240 + 700, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(err.contains("burn complete"));
    // Standard error is not a terminal here: no progress lines.
    QVERIFY(!err.contains('\r'));
}

void TestCliBurn::refusals()
{
    const QString dir = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start());
    QByteArray out, err;
    const QString good = writeLines(dir + "/good.txt", ramp(1024));

    QCOMPARE(runDvkctl({"burn", dir + "/missing.txt", "--port", sim.path()}, &out, &err), 2);
    QVERIFY(err.contains("missing.txt"));
    QCOMPARE(runDvkctl({"burn", good}, &out, &err), 2); // no port
    QCOMPARE(runDvkctl({"burn", good, "--port", sim.path(), "--bogus"}, &out, &err), 2);

    QCOMPARE(runDvkctl({"burn", writeLines(dir + "/short.txt", ramp(1000)), "--port", sim.path()},
                       &out, &err),
             1);
    QStringList bad = ramp(2000);
    bad[1500] = "0x100";
    QCOMPARE(
        runDvkctl({"burn", writeLines(dir + "/bad.txt", bad), "--port", sim.path()}, &out, &err),
        1);
    QVERIFY(err.contains("1501"));
    QCOMPARE(runDvkctl({"burn", good, "--port", dir + "/no-such-port"}, &out, &err), 2);

    // None of the refused files sent a byte.
    QTest::qWait(300);
    QVERIFY(sim.events("transfer").isEmpty());
}

void TestCliBurn::deviceGoneMidTransfer()
{
    const QString dir = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start());
    const QString file = writeLines(dir + "/f.txt", ramp(4096));
    QProcess burn;
    burn.start(DVKCTL_PATH, {"burn", file, "--port", sim.path(), "--no-wait"});
    QVERIFY(burn.waitForStarted());
    QTest::qWait(1000); // inside block 1 or 2
    sim.stop();
    QVERIFY(burn.waitForFinished(15000));
    QCOMPARE(burn.exitCode(), 1);
    const QByteArray err = burn.readAllStandardError();
    QVERIFY2(err.contains("no commit"), err.constData());
    for (const QJsonObject &t : sim.events("transfer"))
        QVERIFY(!t["committed"].toBool());
}

QTEST_GUILESS_MAIN(TestCliBurn)
#include "tst_cli_burn.moc"
