// Files a careless user or an attacker hands over: what every reader of
// pattern files does with pipes, devices, a line without end, lines that are
// no numbers and names that are not UTF-8 (no hang, no crash, nothing
// unchecked burned), what the writers do to files already there (nothing
// merged, nothing over the limit, nothing cut short or overwritten), and the
// window given a pipe as its burn file.
#include "support/window/BurnWindow.h"

#include "burnfile/BurnFile.h"
#include "patterns/FileAccess.h"
#include "patterns/PatternFile.h"

#include <QElapsedTimer>
#include <QProcess>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace burnwindow;

namespace
{

// `count` lines "0x10", each with its line feed.
QByteArray goodLines(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "0x10\n";
    return text;
}

// Runs dvkctl through the shell, so that the arguments reach it as the
// shell's own bytes (names that are not UTF-8 included), in `dir`.
int runShell(const QString &dir, const QString &script, QByteArray *err = nullptr,
             const QStringList &environment = QStringList())
{
    RunOptions options;
    options.workDir = dir;
    options.environment = QProcessEnvironment::systemEnvironment();
    for (const QString &assignment : environment)
        options.environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
    options.timeoutMs = 30000;
    const RunResult r = runProgram("sh", {"-c", script, DVKCTL_PATH}, options);
    if (err)
        *err = r.err;
    return r.code;
}

// Runs dvkctl like runDvkctl, and follows the largest resident size it
// reaches (kB, from /proc while it runs) into *peakKb.
int runWatched(const QStringList &args, QByteArray *out, QByteArray *err, qint64 *peakKb)
{
    QProcess p;
    p.start(DVKCTL_PATH, args);
    if (!p.waitForStarted(10000))
        return -1;
    const QString status = QString("/proc/%1/status").arg(p.processId());
    QElapsedTimer timer;
    timer.start();
    while (!p.waitForFinished(5)) {
        QFile f(status);
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : f.readAll().split('\n')) {
                if (line.startsWith("VmHWM:"))
                    *peakKb = qMax(*peakKb, line.mid(6).trimmed().split(' ').first().toLongLong());
            }
        }
        if (timer.elapsed() > 20000) {
            p.kill();
            p.waitForFinished();
            return -2;
        }
    }
    *out = p.readAllStandardOutput();
    *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

QList<QByteArray> rawEntries(const QString &dir)
{
    QList<QByteArray> names;
    if (DIR *d = ::opendir(QFile::encodeName(dir).constData())) {
        while (dirent *e = ::readdir(d))
            names << QByteArray(e->d_name);
        ::closedir(d);
    }
    return names;
}

} // namespace

class TestUntrustedFiles : public QObject
{
    Q_OBJECT

    QString dir;
    SimulatorProcess sim;

private slots:
    void initTestCase()
    {
        dir = makeTempDir();
        // The simulators started here register themselves in a directory of
        // this test's own.
        qputenv("XDG_RUNTIME_DIR", makeTempDir().toLocal8Bit());
        QVERIFY(sim.start());
    }
    void cleanup() { cancelModalAnswers(); }
    void cleanupTestCase()
    {
        // None of the files refused reached the projector.
        QTest::qWait(300);
        QVERIFY(sim.events("transfer").isEmpty());
    }

    void readersRefuseHostileInput_data();
    void readersRefuseHostileInput();
    void fileNamesThatAreNotUtf8();
    void writersKeepFilesWhole();
    void windowGivenAPipe();
    void windowGivenAHugeFile();
};

void TestUntrustedFiles::readersRefuseHostileInput_data()
{
    QTest::addColumn<QString>("path");
    // Exit codes of inspect, burn, preview and analyze (-1: not run).
    QTest::addColumn<int>("inspect");
    QTest::addColumn<int>("burn");
    QTest::addColumn<int>("preview");
    QTest::addColumn<int>("analyze");
    // A piece of the message (standard error of each command, or the reason).
    QTest::addColumn<QString>("why");

    const QString fifo = dir + "/pipe.txt";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTest::newRow("pipe") << fifo << 2 << 2 << 2 << 2 << "not a regular file";
    QVERIFY(QFile::link(fifo, dir + "/pipe-link.txt"));
    QTest::newRow("link to a pipe")
        << dir + "/pipe-link.txt" << 2 << 2 << 2 << 2 << "not a regular file";
    QTest::newRow("/dev/zero") << "/dev/zero" << 2 << 2 << 2 << 2 << "not a regular file";

    // 64 MB without a line break (sparse: no disk used): one line, no value.
    const QString longLine = dir + "/long.txt";
    {
        QFile f(longLine);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(64 << 20));
    }
    QTest::newRow("one 64 MB line")
        << longLine << 1 << 1 << 0 << 2 << "larger than any pattern file: 67108864 bytes";

    // Every line but one is a good value.
    auto withLine = [&](const char *name, const QByteArray &line, int at) {
        QByteArray text = goodLines(at - 1) + line + "\n" + goodLines(1100 - at);
        return writeBytes(dir + "/" + name + ".txt", text);
    };
    QTest::newRow("a word") << withLine("hello", "hello", 7) << 1 << 1 << -1 << -1
                            << "line 7 ('hello')";
    QTest::newRow("prefix only") << withLine("prefix", "0x", 1) << 1 << 1 << -1 << -1
                                 << "line 1 ('0x')";
    QTest::newRow("sign after prefix")
        << withLine("sign", "0x-1", 1100) << 1 << 1 << -1 << -1 << "line 1100 ('0x-1')";
    QTest::newRow("NUL after a value") << withLine("nul", QByteArray("0x10\0", 5), 2) << 1 << 1
                                       << -1 << -1 << "line 2 ('0x10\\x00')";
    QTest::newRow("just past 32 bits") << withLine("int", "0x80000000", 3) << 1 << 1 << -1 << -1
                                       << "number outside 0x00-0xFF at line 3 ('0x80000000')";
    QTest::newRow("value padded past the line limit")
        << withLine("padded", QByteArray(256, ' ') + "0x10", 9) << 1 << 1 << -1 << -1
        << "line longer than 256 characters at line 9";
    QTest::newRow("terminal escape")
        << withLine("esc", "\x1b[2J", 5) << 1 << 1 << -1 << -1 << "line 5 ('\\x1b[2J')";

    // Whole files that are no pattern file.
    QByteArray random(1 << 20, Qt::Uninitialized);
    quint32 seed = 12345;
    for (char &c : random) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    QTest::newRow("random bytes") << writeBytes(dir + "/random.txt", random) << 1 << 1 << 0 << 1
                                  << "not a hexadecimal value at line";
    const QString utf16Text = QString::fromLatin1(goodLines(1100));
    QTest::newRow("UTF-16 without a mark")
        << writeBytes(
               dir + "/utf16.txt",
               QByteArray(reinterpret_cast<const char *>(utf16Text.utf16()), utf16Text.size() * 2))
        << 1 << 1 << -1 << -1 << "not a hexadecimal value at line";
    QTest::newRow("carriage returns alone")
        << writeBytes(dir + "/cr.txt", goodLines(1100).replace('\n', '\r')) << 1 << 1 << -1 << -1
        << "no line breaks found";
}

// Each command refuses what it cannot read at once (exit 2), says why a file
// cannot be burned (exit 1), never waits on a pipe, keeps its memory small
// whatever the file holds, and sends the projector nothing.
void TestUntrustedFiles::readersRefuseHostileInput()
{
    QFETCH(QString, path);
    QFETCH(int, inspect);
    QFETCH(int, burn);
    QFETCH(int, preview);
    QFETCH(int, analyze);
    QFETCH(QString, why);

    const QByteArray before = QFileInfo(path).isFile() ? readAll(path) : QByteArray();
    struct Run {
        QStringList args;
        int expected;
    };
    const QString png = dir + "/out.png";
    const QList<Run> runs = {
        {{"inspect", path}, inspect},
        {{"burn", path, "--port", sim.path()}, burn},
        {{"preview", path, "-o", png}, preview},
        {{"analyze", path, "--scan-value", "9000", "--set", "gray:3@1"}, analyze},
    };
    qint64 peakKb = 0;
    for (const Run &run : runs) {
        if (run.expected < 0)
            continue;
        QByteArray out, err;
        QCOMPARE(runWatched(run.args, &out, &err, &peakKb), run.expected);
        const QString said = QString::fromUtf8(run.args.first() == "inspect" ? out + err : err);
        if (run.expected == 2 || run.args.first() == "inspect")
            QVERIFY2(said.contains(why), qPrintable(run.args.first() + ": " + said));
        for (const QByteArray &line : err.split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("dvkctl"), line.constData());
    }
    // The check the window's burn start runs agrees.
    const BurnFileCheck check = checkBurnFile(path);
    QVERIFY(!check.burnable());
    QCOMPARE(check.status == BurnFileStatus::CannotOpen, inspect == 2);

    // A line without end is read only this far: far below the four times
    // its length that reading it whole took.
    QVERIFY2(peakKb < 100 * 1024, qPrintable(QString("%1 kB").arg(peakKb)));
    if (!before.isEmpty())
        QCOMPARE(readAll(path), before);
}

// A name that is not valid UTF-8 names exactly that file, whatever the
// locale: read, appended to and written.
void TestUntrustedFiles::fileNamesThatAreNotUtf8()
{
    const QByteArray name = QFile::encodeName(dir) + "/bad\xff.txt";
    {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        const QByteArray text = goodLines(1024);
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), ssize_t(text.size()));
        ::close(fd);
    }
    for (const QString &locale : {QString("C.UTF-8"), QString("C")}) {
        const QStringList env{"LC_ALL=" + locale};
        QByteArray err;
        const char *inspect = R"sh(exec "$0" inspect "$(printf 'bad\377.txt')")sh";
        const char *generate = R"sh(exec "$0" generate dark -o "$(printf 'gen\376.txt')")sh";
        const char *preview =
            R"sh(exec "$0" preview "$(printf 'bad\377.txt')" -o "$(printf 'pic\375.png')")sh";
        QCOMPARE(runShell(dir, inspect, &err, env), 0);
        QCOMPARE(runShell(dir, generate, &err, env), 0);
        QCOMPARE(runShell(dir, preview, &err, env), 0);
    }
    // Written under exactly those names and no other (such as one with the
    // replacement character); both runs appended to the one file.
    QByteArrayList written;
    for (const QByteArray &entry : rawEntries(dir)) {
        if (entry.startsWith("gen") || entry.startsWith("pic"))
            written << entry;
    }
    std::sort(written.begin(), written.end());
    QCOMPARE(written, (QByteArrayList{"gen\xfe.txt", "pic\xfd.png"}));
    struct stat st;
    QCOMPARE(::stat((QFile::encodeName(dir) + "/gen\xfe.txt").constData(), &st), 0);
    QCOMPARE(qint64(st.st_size), qint64(2 * 1024 * 5));
    for (const QByteArray &entry : written + QByteArrayList{"bad\xff.txt"})
        ::unlink((QFile::encodeName(dir) + "/" + entry).constData());

    // A name keeps every byte string, valid UTF-8 or not; on Qt 5 Qt's own
    // conversion does too, whether decoding whole or a byte at a time (as a
    // text stream feeds it).
    installFileNameCodec();
    // Valid two- and four-byte characters; an encoded surrogate, an overlong
    // form, a code point past U+10FFFF; sequences cut short; stray bytes.
    const QByteArrayList names = {"plain",        "\xc3\xa9t\xc3\xa9", "\xf0\x9d\x84\x9e",
                                  "\xed\xa0\x80", "\xc0\xaf",          "\xf4\x90\x80\x80",
                                  "\xf0\x9d\x84", "\xe2\x82",          QByteArray("a\xff\xfe\x80")};
    for (const QByteArray &bytes : names) {
        const QString name = fileNameFromBytes(bytes);
        QCOMPARE(fileNameBytes(name), bytes);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        QCOMPARE(QFile::decodeName(bytes), name);
        QCOMPARE(QFile::encodeName(name), bytes);
        QTextDecoder decoder(QTextCodec::codecForLocale());
        QString piecewise;
        for (const char c : bytes)
            piecewise += decoder.toUnicode(&c, 1);
        // (A sequence cut short at the very end waits for the rest.)
        if (bytes != "\xf0\x9d\x84" && bytes != "\xe2\x82")
            QCOMPARE(piecewise, name);
#endif
    }
    QCOMPARE(fileNameFromBytes("\xc3\xa9"), QString(QChar(0xE9)));
}

void TestUntrustedFiles::writersKeepFilesWhole()
{
    // A last line without its line feed stays a line of its own.
    const QString open = writeBytes(dir + "/open.txt", "0x12");
    QCOMPARE(runDvkctl({"generate", "dark", "-o", open}), 0);
    QVERIFY(readAll(open).startsWith("0x12\n0x00\n"));
    QCOMPARE(countFileLines(open), 1025);
    QCOMPARE(checkBurnFile(open).status, BurnFileStatus::Burnable);

    // Another writer's append between the count and the append cannot pass
    // the limit: the run waits for the other writer's lock, then counts.
    // Here the other writer (this test) holds the lock while the run starts,
    // appends the 60th pattern and lets go; the run must then refuse.
    const QString shared = writeBytes(dir + "/shared.txt", goodLines(59 * 1024));
    const int fd = ::open(QFile::encodeName(shared).constData(), O_WRONLY | O_APPEND);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    QProcess run;
    run.start(DVKCTL_PATH, {"generate", "dark", "-o", shared});
    QVERIFY(!run.waitForFinished(1000)); // it waits for the lock
    const QByteArray last = goodLines(1024);
    QCOMPARE(::write(fd, last.constData(), size_t(last.size())), ssize_t(last.size()));
    ::flock(fd, LOCK_UN);
    ::close(fd);
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 1);
    QCOMPARE(countFileLines(shared), 60 * 1024);

    // A preview that cannot be written whole (a file size limit, as a full
    // disk) fails and leaves the picture already there untouched; a device
    // is refused as no place for it.
    QStringList varied;
    for (int i = 0; i < 2048; ++i)
        varied << QString("0x%1").arg((i * 37) % 256, 0, 16);
    const QString pattern = writeLines(dir + "/varied.txt", varied);
    const QString png = dir + "/pic.png";
    QCOMPARE(runDvkctl({"preview", pattern, "-o", png}), 0);
    const QByteArray picture = readAll(png);
    QVERIFY(picture.size() > 2000);
    QProcess limited;
    limited.start("sh", {"-c", "trap '' XFSZ; exec prlimit --fsize=2000 \"$@\"", "sh", DVKCTL_PATH,
                         "preview", pattern, "--size", "2000x300", "-o", png});
    QVERIFY(limited.waitForFinished(20000));
    QCOMPARE(limited.exitCode(), 1);
    QCOMPARE(readAll(png), picture);
    QVERIFY(QDir(dir).entryList({"pic.png.*"}, QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(runDvkctl({"preview", pattern, "-o", "/dev/full"}), 2); // refused before any work

    // The input itself as output, by its name, a link or a second name: the
    // pattern file stays as it was.
    const QByteArray text = readAll(pattern);
    QVERIFY(QFile::link(pattern, dir + "/varied-link.txt"));
    QCOMPARE(::link(QFile::encodeName(pattern).constData(),
                    QFile::encodeName(dir + "/varied-hard.txt").constData()),
             0);
    for (const QString &out : {pattern, dir + "/varied-link.txt", dir + "/varied-hard.txt"}) {
        QByteArray err;
        QCOMPARE(runDvkctl({"preview", pattern, "-o", out}, nullptr, &err), 2);
        QVERIFY2(err.contains("is the input file"), err.constData());
    }
    QCOMPARE(readAll(pattern), text);
}

// The window refuses a pipe as its burn file, at the load and at the burn's
// start, without ever opening it (an open would wait for a writer on the GUI
// thread): the boxes come, the window answers, nothing is sent. A file with
// a line that is no number is refused at the burn's start.
void TestUntrustedFiles::windowGivenAPipe()
{
    const QString fifo = dir + "/window-pipe.txt";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Whoever opens the pipe for reading is found out, and let go, here.
    std::atomic<bool> stop{false}, openedForReading{false};
    std::thread watch([&] {
        const QByteArray name = QFile::encodeName(fifo);
        while (!stop) {
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                openedForReading = true;
                ::close(fd);
            }
            ::usleep(20000);
        }
    });

    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    QVERIFY(openReady(w, sim.path()));

    ModalSeen seen;
    answerNextModal(&seen);
    QVERIFY(!load(w, fifo));
    QCOMPARE(seen.text, QStringLiteral("无法打开文件!"));

    seen = ModalSeen();
    answerNextModal(&seen);
    QVERIFY(!load(w, "/dev/zero"));
    QCOMPARE(seen.text, QStringLiteral("无法打开文件!"));

    // A good file loaded, then the pipe typed into the path field.
    QVERIFY(load(w, writeBytes(dir + "/good.txt", goodLines(1024))));
    ui->lineEdit_FileDVK->setText(fifo);
    seen = ModalSeen();
    answerNextModal(&seen);
    ui->pushButton_BurnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return seen.seen; }, 5000));
    QCOMPARE(seen.text, QStringLiteral("无法打开文件"));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
    QVERIFY(ui->pushButton_BurnRecord->isEnabled());

    // A line that is no number is refused as a value out of range would be,
    // not sent as 0x00.
    ui->lineEdit_FileDVK->setText(
        writeBytes(dir + "/word.txt", goodLines(1000) + "hello\n" + goodLines(100)));
    ModalSeen refused;
    answerNextModal(&refused);
    ui->pushButton_BurnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return refused.seen; }, 5000));
    QCOMPARE(refused.text, QStringLiteral("请输入0x00~0xFF之间的数"));

    stop = true;
    watch.join();
    QVERIFY(!openedForReading);
    ui->pushButton_SerialPort->click();
}

namespace
{
// Bytes this process has read from files so far.
qint64 bytesRead()
{
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}
} // namespace

// A 20 GB file (sparse: no disk used) that starts with two pages: the load
// reads it once, no further than a burnable file can reach, shows its pages
// from that read, and the burn start refuses it without reading, naming its
// size.
void TestUntrustedFiles::windowGivenAHugeFile()
{
    const QString huge = dir + "/huge.txt";
    {
        QFile f(huge);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(goodLines(2048)) > 0);
        QVERIFY(f.resize(qint64(20) << 30));
    }
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    QVERIFY(openReady(w, sim.path()));

    // Refused at load, with the burn check's words, reading no further than
    // the bound; nothing of it shown.
    const qint64 before = bytesRead();
    ModalSeen tooLarge;
    answerNextModal(&tooLarge);
    QVERIFY(!load(w, huge));
    QVERIFY2(tooLarge.text.contains("21474836480"), qPrintable(tooLarge.text));
    QCOMPARE(ui->label_Page->text(), QString("/ 0 "));
    QVERIFY(ui->label_Picture->pixmap(Qt::ReturnByValue).isNull());
    const qint64 read = bytesRead() - before;
    QVERIFY2(read <= kMaxBurnFileBytes + (1 << 20), qPrintable(QString::number(read)));

    // Typed into the path field after a good load: the burn refuses it.
    QVERIFY(load(w, writeBytes(dir + "/good.txt", goodLines(2048))));
    ui->lineEdit_FileDVK->setText(huge);
    ModalSeen refused;
    answerNextModal(&refused);
    const qint64 beforeBurn = bytesRead();
    ui->pushButton_BurnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return refused.seen; }, 5000));
    QVERIFY2(refused.text.contains("21474836480"), qPrintable(refused.text));
    QVERIFY(bytesRead() - beforeBurn < (1 << 20));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
    ui->pushButton_SerialPort->click();
}

QTEST_MAIN(TestUntrustedFiles)
#include "tst_untrusted_files.moc"
