// dvkctl's exit codes across its subcommands, as its contract gives them: a
// port that does not exist, a port given as a relative path, empty and
// repeated options, options that do not apply, the preview's size bound, and
// results that cannot reach standard output. Standard error only ever
// carries dvkctl's own messages.
#include "support/core/Simulator.h"
#include "support/core/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace
{

// Runs dvkctl in `workDir` (when given), its standard output going to
// /dev/full when `fullOutput`.
RunResult run(const QStringList &args, const QString &workDir = QString(), bool fullOutput = false)
{
    RunOptions options;
    options.workDir = workDir;
    if (fullOutput)
        options.standardOutputFile = "/dev/full";
    options.timeoutMs = 20000;
    return runDvkctl(args, options);
}

} // namespace

class TestCliContract : public QObject
{
    Q_OBJECT

    QString dir;
    QString good;
    SimulatorProcess sim;

private slots:
    void initTestCase()
    {
        dir = makeTempDir();
        qputenv("XDG_RUNTIME_DIR", makeTempDir().toLocal8Bit());
        QVERIFY(sim.start());
        // A port reached by a relative path: a link in the test's directory.
        QVERIFY(QFile::link(sim.path(), dir + "/projector"));
        good = dir + "/good.txt";
        QCOMPARE(run({"generate", "gray", "--scan-value", "9000", "--bits", "2", "-o", good}).code,
                 0);
    }

    void exitCodes_data();
    void exitCodes();
    void relativePort();
};

void TestCliContract::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("fullOutput");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // part of standard error

    const QString png = dir + "/p.png";
    auto row = [](const char *name, const QStringList &args, int code, const QString &said,
                  bool fullOutput = false) {
        QTest::newRow(name) << args << fullOutput << code << said;
    };
    // A port that does not exist, named or as a path: the same for all.
    row("query, no such name", {"query", "--port", "no-such-port"}, 2, "'/dev/no-such-port'");
    row("query, no such path", {"query", "--port", "./no-such-port"}, 2, "'./no-such-port'");
    row("burn, no such name", {"burn", "good.txt", "--port", "no-such-port"}, 2,
        "'/dev/no-such-port'");
    row("generate, no such path",
        {"generate", "gray", "--bits", "2", "--port", dir + "/no-such-port"}, 2,
        "'" + dir + "/no-such-port'");

    // Empty, repeated and inapplicable options.
    row("generate -o empty", {"generate", "dark", "-o", ""}, 2, "empty file name");
    row("preview -o empty", {"preview", "good.txt", "-o", ""}, 2, "empty file name");
    row("dark with a scan value", {"generate", "dark", "--scan-value", "banana"}, 2,
        "--scan-value does not apply");
    row("light with a port", {"generate", "light", "--port", "/dev/null"}, 2,
        "--port does not apply");
    row("bits twice", {"generate", "gray", "--scan-value", "9000", "--bits", "2", "--bits", "3"}, 2,
        "--bits given more than once");
    row("output twice", {"preview", "good.txt", "-o", png, "--output", dir + "/q.png"}, 2,
        "given more than once");
    row("sets may repeat",
        {"analyze", "good.txt", "--scan-value", "9000", "--set", "gray:2@1", "--set", "gray:1@1"},
        0, "");

    // One FILE where a subcommand takes one, nothing where it takes none.
    row("inspect without a file", {"inspect"}, 2, "dvkctl inspect: no FILE given");
    row("preview with two files", {"preview", "good.txt", "good.txt", "-o", png}, 2,
        "dvkctl preview: unexpected argument 'good.txt'");
    row("analyze with two files",
        {"analyze", "good.txt", "extra", "--scan-value", "9000", "--set", "gray:2@1"}, 2,
        "dvkctl analyze: unexpected argument 'extra'");
    row("ports with an argument", {"ports", "extra"}, 2, "dvkctl ports: unexpected argument");
    row("query with an argument", {"query", "extra", "--port", "./projector"}, 2,
        "dvkctl query: unexpected argument 'extra'");
    row("simulate with an argument", {"simulate", "extra"}, 2,
        "dvkctl simulate: unexpected argument 'extra'");

    // The preview's size has a bound.
    row("preview too wide", {"preview", "good.txt", "--size", "8193x10", "-o", png}, 2, "8193x10");
    row("preview at the bound", {"preview", "good.txt", "--size", "8192x2", "-o", png}, 0, "");

    // Results that cannot be written are a failure.
    const QString full = "cannot write to standard output";
    row("inspect to a full disk", {"inspect", "good.txt", "--json"}, 1, full, true);
    row("help to a full disk", {"--help"}, 1, full, true);
    row("ports to a full disk", {"ports", "--json"}, 1, full, true);
    row("analyze to a full disk",
        {"analyze", "good.txt", "--scan-value", "9000", "--set", "gray:2@1"}, 1, full, true);
    row("query to a full disk", {"query", "--port", "./projector"}, 1, full, true);
    row("generate to a full disk", {"generate", "dark"}, 1, "dvkctl generate: " + full, true);

    // Output targets that are not regular files, or cannot be made: refused
    // before anything is done, saying what is wrong.
    row("generate into a directory", {"generate", "dark", "-o", dir}, 2, "not a regular file");
    row("preview into a directory", {"preview", "good.txt", "-o", dir}, 2, "not a regular file");
    row("preview into a missing folder", {"preview", "good.txt", "-o", dir + "/none/p.png"}, 2,
        "No such file or directory");
    row("generate into a file of the system's", {"generate", "dark", "-o", "/proc/self/status"}, 2,
        "/proc/self/status: ");
    // An option's value that is the next option: the value is missing.
    row("value missing", {"generate", "phase", "--steps", "--stripes", "8"}, 2,
        "--steps needs a value");
}

void TestCliContract::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(bool, fullOutput);
    QFETCH(int, code);
    QFETCH(QString, said);
    const RunResult r = run(args, dir, fullOutput);
    QVERIFY2(r.code == code, qPrintable(QString("exit %1, expected %2: %3")
                                            .arg(r.code)
                                            .arg(code)
                                            .arg(QString::fromUtf8(r.err))));
    QVERIFY2(QString::fromUtf8(r.err).contains(said), r.err.constData());
    QVERIFY2(!r.err.contains("Unknown error"), r.err.constData());
    if (fullOutput) // said once, not by each layer it passed
        QCOMPARE(QString::fromUtf8(r.err).count(said), 1);
    // No warning of the toolkit's, only dvkctl's own messages.
    for (const QByteArray &line : r.err.split('\n'))
        QVERIFY2(line.isEmpty() || line.startsWith("dvkctl"), line.constData());
    // A refused run writes nothing.
    if (code == 2)
        QVERIFY(!QFile::exists(dir + "/p.png") && !QFile::exists(dir + "/q.png"));
    QFile::remove(dir + "/p.png");
}

// A port with a slash is a path as given, relative to the current directory;
// a bare name is what `dvkctl ports` lists under it, else a device under
// /dev. Messages name the path tried.
void TestCliContract::relativePort()
{
    RunResult r = run({"query", "--port", "./projector", "--json"}, dir);
    QCOMPARE(r.code, 0);
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(o["port"].toString(), QStringLiteral("./projector"));
    QCOMPARE(o["scan_value"].toInt(), 10000);

    r = run({"generate", "square", "--port", "./projector", "--stripes", "4"}, dir);
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out.count('\n'), 4 * 1024);

    r = run({"query", "--port", "projector"}, dir);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains("'/dev/projector'"), r.err.constData());

    SimulatorProcess named;
    QVERIFY(named.start({"--name", "projA", "--scan-value", "500"}, 5000, true));
    r = run({"ports"});
    QVERIFY2(r.out.contains("projA\t"), r.out.constData());
    r = run({"query", "--port", "projA"}, dir);
    QVERIFY2(r.code == 0, r.err.constData());
    QCOMPARE(r.out, QByteArray("500\n"));
}

QTEST_GUILESS_MAIN(TestCliContract)
#include "tst_cli_contract.moc"
