// The projector simulator and `dvkctl query`, through the real serial driver
// on the simulator's pseudo-terminal.
#include "burn/BurnProtocol.h"
#include "serial/ProjectorQuery.h"
#include "serial/mySerial.h"
#include "support/core/Simulator.h"
#include "support/core/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace bp = burnprotocol;

namespace
{

// Sends a transfer the way a burn does: one write per byte, with the pauses.
bool sendTransfer(mySerial &port, const std::vector<bp::Step> &steps)
{
    for (const bp::Step &s : steps) {
        if (s.kind == bp::Step::Pause) {
            std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseMs));
        } else {
            const char b = char(s.byte);
            if (!port.writeData(&b, 1))
                return false;
        }
    }
    return true;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    // All the queries that wait out the driver's 3 s run at once.
    void queryCommand()
    {
        const QString dir = makeTempDir();
        const QString link = dir + "/projector";
        SimulatorProcess standard, five, three, silent, slow;
        QVERIFY(standard.start());
        QVERIFY(five.start({"--scan-value", "500", "--link", link}));
        QVERIFY(three.start({"--answer", "01F4AA"}));
        QVERIFY(silent.start({"--silent"}));
        // At 40 baud the query's bytes come 250 ms apart: still one query.
        QVERIFY(slow.start({"--baud", "40"}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), five.path());

        RunOptions options;
        options.timeoutMs = 30000;
        RunningProgram a = startDvkctl({"query", "--port", standard.path()}, options);
        RunningProgram b = startDvkctl({"query", "--port", link, "--json"}, options);
        RunningProgram c = startDvkctl({"query", "--json", "--port", three.path()}, options);
        RunningProgram d = startDvkctl({"query", "--port", silent.path()}, options);
        RunningProgram e = startDvkctl({"query", "--port", slow.path()}, options);

        const RunResult ra = a.finish();
        QCOMPARE(ra.code, 0);
        QCOMPARE(ra.out, QByteArray("10000\n"));
        const RunResult rb = b.finish();
        QCOMPARE(rb.code, 0);
        const QJsonObject jb = QJsonDocument::fromJson(rb.out).object();
        QCOMPARE(jb.value("scan_value").toInt(), 500);
        QCOMPARE(jb.value("answer").toString(), QString("01F4"));
        QCOMPARE(jb.value("port").toString(), link);
        const RunResult rc = c.finish();
        QCOMPARE(rc.code, 0);
        const QJsonObject jc = QJsonDocument::fromJson(rc.out).object();
        QCOMPARE(jc.value("scan_value").toInt(), 500); // the first two bytes
        QCOMPARE(jc.value("answer").toString(), QString("01F4AA"));
        const RunResult rd = d.finish();
        QCOMPARE(rd.code, 1);
        QVERIFY(rd.out.isEmpty());
        QVERIFY(rd.err.contains("no answer"));
        const RunResult re = e.finish();
        QCOMPARE(re.code, 0);
        QCOMPARE(re.out, QByteArray("10000\n"));

        // What each simulator saw: exactly one query, answered as set.
        for (auto [sim, answered] : {std::pair<SimulatorProcess *, QString>{&standard, "2710"},
                                     {&five, "01F4"},
                                     {&three, "01F4AA"},
                                     {&silent, ""},
                                     {&slow, "2710"}}) {
            QVERIFY(sim->waitForEvents("query", 1));
            const auto queries = sim->events("query");
            QCOMPARE(queries.size(), 1);
            QCOMPARE(queries.first().value("answered").toString(), answered);
            QVERIFY(sim->events("unexpected").isEmpty());
        }
        // A closed terminal ends it as cleanly as SIGTERM: no link left.
        QCOMPARE(five.stop(5000, SIGHUP), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    void usageErrors()
    {
        QByteArray err;
        QCOMPARE(runDvkctl({"query"}, nullptr, &err), 2);
        QCOMPARE(runDvkctl({"query", "--port", "/dev/no-such-port"}, nullptr, &err), 2);
        QVERIFY(err.contains("/dev/no-such-port"));
        QCOMPARE(runDvkctl({"simulate", "--answer", "XYZ"}, nullptr, &err), 2);
        QVERIFY(err.contains("XYZ"));
        QCOMPARE(runDvkctl({"simulate", "--scan-value", "70000"}), 2);
        QCOMPARE(runDvkctl({"simulate", "--silent", "--answer", "01"}), 2);
        QCOMPARE(runDvkctl({"simulate", "--baud", "0"}), 2);
    }

    void repeatedOpensAndStrayBytes()
    {
        SimulatorProcess sim;
        QVERIFY(sim.start({"--answer", "01F4AA"}));
        mySerial port;
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(port.openPort(true, sim.path()), 0);
            QVERIFY(port.writeData(reinterpret_cast<const char *>(kProjectorQuery), 3));
            char buffer[mySerial::kRxBufferSize];
            int count = mySerial::kRxBufferSize;
            int received = 0;
            port.readData(buffer, &count, &received);
            QCOMPARE(count, 2);
            QCOMPARE(QByteArray(buffer, received), QByteArray::fromHex("01F4AA"));
            QCOMPARE(port.openPort(false, 0), 0);
        }
        QVERIFY(sim.waitForEvents("query", 20));

        // A port opened and closed without a word, then bytes that are no
        // query.
        QCOMPARE(port.openPort(true, sim.path()), 0);
        QCOMPARE(port.openPort(false, 0), 0);
        QCOMPARE(port.openPort(true, sim.path()), 0);
        QVERIFY(port.writeData("\x42\x9f\xfc\x02", 4));
        QTRY_COMPARE(
            [&] {
                QString seen;
                for (const QJsonObject &o : sim.events("unexpected"))
                    seen += o.value("bytes").toString();
                return seen;
            }(),
            QString("429FFC02"));
        QCOMPARE(sim.events("query").size(), 20);

        // Once the simulator has ended, a write fails.
        QCOMPARE(sim.stop(), 0);
        QVERIFY(!port.writeData(reinterpret_cast<const char *>(kProjectorQuery), 3));
        port.openPort(false, 0);
    }

    void transfers()
    {
        const QString dir = makeTempDir();
        SimulatorProcess recorder, cutOff;
        QVERIFY(recorder.start({"--record", dir, "--once"}));
        QVERIFY(cutOff.start());

        // A sender that stops halfway: reported once the line has been quiet.
        mySerial half;
        QCOMPARE(half.openPort(true, cutOff.path()), 0);
        const auto partial = bp::encodeTransfer(randomValues(30, 2));
        QVERIFY(half.writeData(bp::transferBytes(partial).left(1 + 15 + 20).constData(), 36));

        // A whole transfer of two blocks, one write per byte with the pauses.
        const QByteArray values = randomValues(1025, 1);
        const auto steps = bp::encodeTransfer(values);
        mySerial port;
        QCOMPARE(port.openPort(true, recorder.path()), 0);
        QVERIFY(sendTransfer(port, steps));
        QVERIFY(recorder.waitForEvents("transfer", 1));
        const QJsonObject t = recorder.events("transfer").first();
        QCOMPARE(t.value("values").toInt(), 1025);
        QCOMPARE(t.value("blocks").toInt(), 2);
        QCOMPARE(t.value("committed").toBool(), true);
        QCOMPARE(t.value("errors").toArray().size(), 0);
        QCOMPARE(t.value("bytes").toInt(), int(bp::transferLength(1025)));

        // The pauses arrive as silences before the right bytes.
        QList<int> pauseOffsets;
        int offset = 0;
        for (const bp::Step &s : steps) {
            if (s.kind == bp::Step::Pause)
                pauseOffsets << offset;
            else
                ++offset;
        }
        const QJsonArray gaps = t.value("gaps").toArray();
        QCOMPARE(gaps.size(), pauseOffsets.size());
        for (int i = 0; i < gaps.size(); ++i) {
            QCOMPARE(gaps[i].toObject().value("offset").toInt(), pauseOffsets[i]);
            QVERIFY(gaps[i].toObject().value("ms").toInt() >= 90);
        }

        // The recording: the data bytes as they went out, one line each.
        QFile record(t.value("record").toString());
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = record.readAll().split('\n');
        QCOMPARE(lines.size(), 1026);
        for (int i = 0; i < 1025; ++i)
            QCOMPARE(lines[i],
                     QByteArray("0x") + QByteArray::number(bp::dataByte(quint8(values[i])), 16)
                                            .rightJustified(2, '0')
                                            .toUpper());
        // --once: the simulator has ended by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRunning(), 5000);
        QCOMPARE(recorder.stop(), 0);

        QVERIFY(cutOff.waitForEvents("transfer", 1, 5000));
        const QJsonObject c = cutOff.events("transfer").first();
        QCOMPARE(c.value("committed").toBool(), false);
        QCOMPARE(c.value("values").toInt(), 20);
        QCOMPARE(c.value("errors").toArray().size(), 1);
        QVERIFY(c.value("errors").toArray().first().toObject().value("message").toString().contains(
            "cut off"));
    }

    void lineRate()
    {
        // 428 bytes at 9600 baud take about 446 ms to read.
        SimulatorProcess sim;
        QVERIFY(sim.start({"--baud", "9600"}));
        mySerial port;
        QCOMPARE(port.openPort(true, sim.path()), 0);
        const QByteArray bytes = bp::transferBytes(bp::encodeTransfer(randomValues(400, 3)));
        QCOMPARE(bytes.size(), 428);
        QVERIFY(port.writeData(bytes.constData(), bytes.size()));
        QVERIFY(sim.waitForEvents("transfer", 1));
        const QJsonObject t = sim.events("transfer").first();
        QVERIFY(t.value("committed").toBool());
        const int ms = t.value("duration_ms").toInt();
        QVERIFY2(ms >= 400 && ms < 700, qPrintable(QString::number(ms)));
    }

    // --record, --link and the port-list registration never replace or
    // write through anything the simulator did not make, and each is gone
    // at the end only while it is still the simulator's own.
    void filesNeverReplaced()
    {
        const QString dir = makeTempDir();
        const QString victim = writeLines(dir + "/victim.txt", {"keep"});

        // Recordings: a link planted under the first name, a recording of an
        // earlier run under the second.
        const QString records = dir + "/records";
        QVERIFY(QDir().mkpath(records));
        QVERIFY(QFile::link(victim, records + "/transfer_001.txt"));
        writeLines(records + "/transfer_002.txt", {"0x01"});
        SimulatorProcess recorder;
        QVERIFY(recorder.start({"--record", records, "--once"}));
        mySerial port;
        QCOMPARE(port.openPort(true, recorder.path()), 0);
        const QByteArray bytes = bp::transferBytes(bp::encodeTransfer(randomValues(10, 4)));
        QVERIFY(port.writeData(bytes.constData(), bytes.size()));
        QVERIFY(recorder.waitForEvents("transfer", 1));
        QCOMPARE(recorder.events("transfer").first().value("record").toString(),
                 records + "/transfer_003.txt");
        QCOMPARE(QFileInfo(records + "/transfer_003.txt").size(), qint64(10 * 5));
        port.openPort(false, 0);
        // Numbers past the largest a 32-bit count holds go on upwards.
        QVERIFY(QFile::rename(records + "/transfer_003.txt", records + "/transfer_2147483647.txt"));
        SimulatorProcess next;
        QVERIFY(next.start({"--record", records, "--once"}));
        QCOMPARE(port.openPort(true, next.path()), 0);
        QVERIFY(port.writeData(bytes.constData(), bytes.size()));
        QVERIFY(next.waitForEvents("transfer", 1));
        QCOMPARE(next.events("transfer").first().value("record").toString(),
                 records + "/transfer_2147483648.txt");
        QCOMPARE(QDir(records).entryList(QDir::Files | QDir::System).size(), 4);
        port.openPort(false, 0);

        // --link: only where nothing is; anything there, a link to nothing
        // included, is refused by name.
        const QString link = dir + "/projector";
        QByteArray err;
        QCOMPARE(runDvkctl({"simulate", "--link", victim}, nullptr, &err), 2);
        QVERIFY(err.contains(victim.toUtf8() + "' exists"));
        SimulatorProcess first;
        QVERIFY(first.start({"--link", link}));
        QCOMPARE(runDvkctl({"simulate", "--link", link}, nullptr, &err), 2);
        QCOMPARE(QFileInfo(link).symLinkTarget(), first.path());
        // One that was replaced meanwhile is not removed at the end.
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(victim, link));
        QCOMPARE(first.stop(), 0);
        QCOMPARE(QFileInfo(link).symLinkTarget(), victim);
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(dir + "/gone", link)); // the user's own dangling link
        QCOMPARE(runDvkctl({"simulate", "--link", link}, nullptr, &err), 2);
        QVERIFY(err.contains(link.toUtf8()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), dir + "/gone");

        // The registration: in a directory of this user's only.
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QString elsewhere = makeTempDir();
        QVERIFY(QDir().mkpath(elsewhere + "/ports"));
        qputenv("XDG_RUNTIME_DIR", dir.toLocal8Bit());
        QVERIFY(QFile::link(elsewhere, dir + "/dvk-sp"));
        SimulatorProcess unlisted;
        QVERIFY(unlisted.start({}, 5000, true)); // runs, but is not listed
        QCOMPARE(QDir(elsewhere + "/ports").entryList(QDir::NoDotAndDotDot | QDir::System).size(),
                 0);
        QTRY_VERIFY(unlisted.standardError().contains("symbolic link"));
        QCOMPARE(runDvkctl({"simulate", "--name", "bench"}, nullptr, &err), 1);
        QVERIFY(QFile::remove(dir + "/dvk-sp"));
        SimulatorProcess named;
        QVERIFY(named.start({"--name", "bench"}, 5000, true));
        QCOMPARE(QFileInfo(dir + "/dvk-sp").permissions() &
                     (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());
        QCOMPARE(QFileInfo(dir + "/dvk-sp/ports/bench").symLinkTarget(), named.path());
        QCOMPARE(runDvkctl({"simulate", "--name", "bench"}, nullptr, &err), 1);
        QVERIFY(err.contains(QString("another simulator named 'bench' is running (process %1)")
                                 .arg(named.processId())
                                 .toUtf8()));
        // Killed outright, it is known dead at once: its name is free again,
        // and the listing no longer offers it (nor keeps its link).
        named.kill();
        QByteArray out;
        QCOMPARE(runDvkctl({"ports"}, &out, &err), 0);
        QVERIFY(!out.contains("bench"));
        QVERIFY(!QFileInfo(dir + "/dvk-sp/ports/bench").isSymLink());
        QVERIFY(QFile::link(victim, dir + "/dvk-sp/ports/bench"));
        SimulatorProcess successor;
        QVERIFY(successor.start({"--name", "bench"}, 5000, true));
        QCOMPARE(QFileInfo(dir + "/dvk-sp/ports/bench").symLinkTarget(), successor.path());
        QCOMPARE(runDvkctl({"ports", "--json"}, &out, &err), 0);
        QVERIFY(out.contains(QString("{\"description\":\"projector simulator\",\"name\":"
                                     "\"bench\",\"path\":\"%1/dvk-sp/ports/bench\",\"pid\":null,"
                                     "\"vid\":null}")
                                 .arg(dir)
                                 .toUtf8()));
        QCOMPARE(successor.stop(), 0);
        QVERIFY(!QFileInfo(dir + "/dvk-sp/ports/bench").isSymLink());
        QCOMPARE(runDvkctl({"simulate", "--name", "../bench"}, nullptr, &err), 2);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }

    // A client that never reads: the answers that no longer fit are logged
    // as unsent, and the next query is not held up by them.
    void unreadAnswers()
    {
        const QByteArray answer(4096, char(0x5A));
        SimulatorProcess sim;
        QVERIFY(sim.start({"--answer", QString::fromLatin1(answer.toHex())}));
        const int fd = ::open(QFile::encodeName(sim.path()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        constexpr int kQueries = 40; // 160 KB of answers: more than the line holds
        for (int i = 0; i < kQueries; ++i)
            QCOMPARE(::write(fd, kProjectorQuery, 3), ssize_t(3));
        // Unhindered, this takes well under a second; each stall would be 2 s.
        QVERIFY(sim.waitForEvents("query", kQueries, 20000));
        int sent = 0, unsent = 0;
        for (const QJsonObject &q : sim.events("query")) {
            sent += q.value("answered").toString().size() / 2;
            unsent += q.value("unsent").toString().size() / 2;
        }
        ::close(fd);
        QCOMPARE(sent + unsent, kQueries * answer.size());
        QVERIFY2(unsent > 0 && sent > 0, qPrintable(QString("%1 %2").arg(sent).arg(unsent)));
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
