// The README's guide cannot rot: its shell examples run, in order, as a new
// user would run them (with this build's tools, against the simulator), its
// pictures are what the tools make now, and the commands that need root name
// files and a package that exist.
#include "support/core/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace
{

QString buildDir()
{
    return QDir(QCoreApplication::applicationDirPath() + "/..").canonicalPath();
}

QString readme()
{
    QFile f(DVK_SOURCE_DIR "/README.md");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The ```sh blocks, in order.
QStringList shellBlocks(const QString &text)
{
    QStringList blocks;
    const QRegularExpression fence("^```sh\\n(.*?)^```$",
                                   QRegularExpression::MultilineOption |
                                       QRegularExpression::DotMatchesEverythingOption);
    auto it = fence.globalMatch(text);
    while (it.hasNext())
        blocks << it.next().captured(1);
    return blocks;
}

// Blocks that change the system need root and a real machine: they are
// checked, not run.
bool needsRoot(const QString &block)
{
    return QRegularExpression("^sudo ", QRegularExpression::MultilineOption)
        .match(block)
        .hasMatch();
}

RunResult run(const QString &program, const QStringList &args, const QString &dir,
              const QProcessEnvironment &env, int timeoutMs)
{
    RunOptions options;
    options.workDir = dir;
    options.environment = env;
    options.timeoutMs = timeoutMs;
    return runProgram(program, args, options);
}

// Same size and the same colour in every pixel.
bool samePicture(const QString &a, const QString &b)
{
    const QImage x = QImage(a).convertToFormat(QImage::Format_ARGB32);
    const QImage y = QImage(b).convertToFormat(QImage::Format_ARGB32);
    return !x.isNull() && x == y;
}

QString cpackVersion()
{
    QFile f(buildDir() + "/CPackConfig.cmake");
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const auto m = QRegularExpression("set\\(CPACK_PACKAGE_VERSION \"([^\"]+)\"\\)")
                       .match(QString::fromUtf8(f.readAll()));
    return m.captured(1);
}

} // namespace

class TestReadme : public QObject
{
    Q_OBJECT

private slots:
    void structure()
    {
        const QString text = readme();
        QVERIFY(!text.isEmpty());
        // The set-up comes first, as a newcomer needs it.
        const auto heading = QRegularExpression("^## .*$", QRegularExpression::MultilineOption);
        QCOMPARE(heading.match(text).captured(0), QString("## Two commands"));
        // Every picture it shows exists.
        auto pictures = QRegularExpression("!\\[[^\\]]*\\]\\(([^)]+)\\)").globalMatch(text);
        int count = 0;
        while (pictures.hasNext()) {
            const QString path = QString(DVK_SOURCE_DIR) + "/" + pictures.next().captured(1);
            QVERIFY2(!QImage(path).isNull(), qPrintable(path));
            ++count;
        }
        QCOMPARE(count, 4);
    }

    // The examples, run as they stand: in a fresh home directory, from a
    // directory where build/ is this build.
    void examplesRun()
    {
        // Whatever the guide leaves running (the simulator, when a step fails
        // before the guide stops it) ends with the script.
        QString script = "set -euo pipefail\ntrap 'kill $(jobs -p) 2>/dev/null || true' EXIT\n";
        int runnable = 0;
        for (const QString &block : shellBlocks(readme())) {
            if (needsRoot(block))
                continue;
            script += block;
            ++runnable;
        }
        QVERIFY(runnable >= 3);

        const QString scratch = makeTempDir();
        QVERIFY(QFile::link(buildDir(), scratch + "/build"));
        QVERIFY(QDir().mkpath(scratch + "/home"));
        writeLines(scratch + "/guide.sh", {script});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", scratch + "/home");
        env.insert("LC_ALL", "C.UTF-8");
        env.remove("QT_QPA_PLATFORM");
        const RunResult r = run("bash", {scratch + "/guide.sh"}, scratch, env, 180000);
        QVERIFY2(r.code == 0, (r.out + r.err).constData());

        // What the comments promise.
        QVERIFY2(r.out.startsWith("10000\n"), r.out.constData());
        QVERIFY2(r.out.contains("\npages: 12\n"), r.out.constData());
        QVERIFY2(r.out.contains("burnable: yes"), r.out.constData());

        // The projector saw three queries (query, generate --port, burn) and
        // one committed transfer, clean.
        const QString dir = scratch + "/home/dvk-try";
        QFile log(dir + "/simulator.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QList<QByteArray> queries, transfers;
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.contains("\"event\":\"query\""))
                queries << line;
            else if (line.contains("\"event\":\"transfer\""))
                transfers << line;
        }
        QCOMPARE(queries.size(), 3);
        QCOMPARE(transfers.size(), 1);
        QVERIFY2(transfers[0].contains("\"values\":1024") &&
                     transfers[0].contains("\"committed\":true") &&
                     transfers[0].contains("\"errors\":[]"),
                 transfers[0].constData());

        // The picture in the guide is the one its example draws.
        QVERIFY(samePicture(dir + "/page1.png", DVK_SOURCE_DIR "/docs/preview.png"));
    }

    // Root's commands cannot run here; what they name must exist.
    void rootCommands()
    {
        int blocks = 0;
        const QString version = cpackVersion();
        QVERIFY(!version.isEmpty());
        QProcess arch;
        arch.start("dpkg", {"--print-architecture"});
        QVERIFY(arch.waitForFinished(10000));
        const QString architecture = QString::fromLatin1(arch.readAllStandardOutput()).trimmed();

        for (const QString &block : shellBlocks(readme())) {
            if (!needsRoot(block))
                continue;
            ++blocks;
            QProcess syntax;
            syntax.start("bash", {"-n"});
            syntax.write(block.toUtf8());
            syntax.closeWriteChannel();
            QVERIFY(syntax.waitForFinished(10000));
            QVERIFY2(syntax.exitCode() == 0, qPrintable(block));

            auto files =
                QRegularExpression("\\b(packaging|scripts|docs)/[\\w.-]+").globalMatch(block);
            while (files.hasNext()) {
                const QString path = files.next().captured(0);
                QVERIFY2(QFile::exists(QString(DVK_SOURCE_DIR) + "/" + path), qPrintable(path));
            }
            auto debs = QRegularExpression("dvk-sp_([^_ ]+)_(\\w+)\\.deb").globalMatch(block);
            while (debs.hasNext()) {
                const auto m = debs.next();
                QCOMPARE(m.captured(1), version);
                QCOMPARE(m.captured(2), architecture);
            }
        }
        QCOMPARE(blocks, 3);
    }

    // The script behind the pictures works and makes what the guide shows.
    void screenshotScript()
    {
        const QString out = makeTempDir();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BUILD_DIR", buildDir());
        env.remove("QT_QPA_PLATFORM"); // the real thing: an X server
        // Under AddressSanitizer, strict string checks flag a strndup inside
        // the system's X keyboard library (libxkbcommon-x11), not our code.
        if (env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":strict_string_checks=0");
        const RunResult r =
            run("bash", {DVK_SOURCE_DIR "/scripts/screenshot.sh", out}, out, env, 120000);
        QVERIFY2(r.code == 0, (r.out + r.err).constData());
        // The window shows a time-stamped file name and a burn caught at some
        // point of its transfer, so the size is compared, and what the
        // preview and the burn must show.
        const QImage window(out + "/window.png");
        const QImage burn(out + "/burn.png");
        QCOMPARE(window.size(), QImage(DVK_SOURCE_DIR "/docs/window.png").size());
        QCOMPARE(burn.size(), QImage(DVK_SOURCE_DIR "/docs/burn.png").size());
        QVERIFY(samePicture(out + "/preview.png", DVK_SOURCE_DIR "/docs/preview.png"));
        // A page is loaded: the stripe picture runs from black to full red.
        const auto loaded = [](const QImage &shot) {
            bool red = false, black = false;
            for (int x = 20; x < shot.width() - 20; ++x) {
                const QRgb c = shot.pixel(x, shot.height() * 2 / 3);
                red = red || (qRed(c) >= 0xF0 && qGreen(c) == 0 && qBlue(c) == 0);
                black = black || c == qRgb(0, 0, 0);
            }
            return red && black;
        };
        QVERIFY(loaded(window));
        QVERIFY(loaded(burn));
        // The burn is under way: the progress bar is partly filled, and
        // differs from the window before it.
        QVERIFY(window != burn);
    }
};

QTEST_GUILESS_MAIN(TestReadme)
#include "tst_readme.moc"
