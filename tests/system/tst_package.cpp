// `cmake --install` and the Debian package made by `cpack -G DEB` from this
// build tree: what goes where, what the package declares, and that what it
// unpacks runs.
#include "support/core/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace
{

// Packaging steps take their time on a loaded machine.
RunResult run(const QString &program, const QStringList &args, int timeoutMs = 240000,
              const QString &workDir = QString())
{
    RunOptions options;
    options.timeoutMs = timeoutMs;
    options.workDir = workDir;
    return runProgram(program, args, options);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll()
                                       : QByteArray("<cannot read " + path.toUtf8() + ">");
}

// Every file (not directory) under root, as paths relative to it.
QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

const QStringList kInstalled = {
    "bin/dvk-sp",
    "bin/dvkctl",
    "lib/udev/rules.d/70-dvk-sp-serial.rules",
    "share/applications/dvk-sp.desktop",
    "share/pixmaps/dvk-sp.png",
};

// The installed files against their sources, and the executables run.
void checkTree(const QString &prefix)
{
    const QString src = DVK_SOURCE_DIR;
    QCOMPARE(filesUnder(prefix), kInstalled);
    QCOMPARE(contents(prefix + "/share/applications/dvk-sp.desktop"),
             contents(src + "/packaging/dvk-sp.desktop"));
    QCOMPARE(contents(prefix + "/share/pixmaps/dvk-sp.png"),
             contents(src + "/src/ui/resources/Kestrav.png"));
    QCOMPARE(contents(prefix + "/lib/udev/rules.d/70-dvk-sp-serial.rules"),
             contents(src + "/packaging/70-dvk-sp-serial.rules"));
    for (const char *exe : {"bin/dvk-sp", "bin/dvkctl"})
        QVERIFY2(QFileInfo(prefix + "/" + exe).isExecutable(), exe);

    RunResult v = run(prefix + "/bin/dvkctl", {"--version"});
    QCOMPARE(v.code, 0);
    QVERIFY(v.out.startsWith("dvkctl "));
    // Every library the executables need is found.
    for (const char *exe : {"bin/dvk-sp", "bin/dvkctl"}) {
        RunResult l = run("ldd", {prefix + "/" + exe});
        QCOMPARE(l.code, 0);
        QVERIFY2(!l.out.contains("not found"), l.out.constData());
        QVERIFY(l.out.contains("libQt5Core.so.5"));
    }
    // The application starts and keeps running (it only ends when asked).
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    app.setProcessEnvironment(env);
    app.start(prefix + "/bin/dvk-sp", QStringList());
    QVERIFY(app.waitForStarted(10000));
    QVERIFY2(!app.waitForFinished(1500), app.readAllStandardError().constData());
    app.kill();
    app.waitForFinished();
}

QString buildDir()
{
    return QDir(QCoreApplication::applicationDirPath() + "/..").canonicalPath();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(buildDir() + "/CPackConfig.cmake"), qPrintable(buildDir()));
        for (const char *tool : {"cmake", "cpack", "dpkg-deb", "dpkg-shlibdeps", "file", "ldd",
                                 "desktop-file-validate"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
                     qPrintable(QString("%1 is missing: scripts/setup.sh installs it").arg(tool)));
    }

    // Started where there is no display (a server, ssh without forwarding):
    // one line that says so and what to do, exit 1, no abort.
    void noDisplay()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        for (const QString &display : QStringList{"", ":9917"}) {
            env.insert("DISPLAY", display);
            const RunResult r = runProgram(buildDir() + "/bin/dvk-sp", {}, withEnvironment(env));
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.count('\n') == 1 && r.err.contains("xvfb-run"), r.err.constData());
        }
    }

    void cmakeInstall()
    {
        const QString prefix = makeTempDir() + "/prefix";
        const RunResult r = run("cmake", {"--install", buildDir(), "--prefix", prefix});
        QVERIFY2(r.code == 0, r.err.constData());
        checkTree(prefix);
    }

    void desktopEntry()
    {
        const QString entry = DVK_SOURCE_DIR "/packaging/dvk-sp.desktop";
        const RunResult r = run("desktop-file-validate", {entry});
        QVERIFY2(r.code == 0 && r.out.isEmpty(), r.out.constData());
        // It starts what is installed, with the icon installed.
        const QByteArray text = contents(entry);
        QVERIFY(text.contains("\nExec=dvk-sp\n"));
        QVERIFY(text.contains("\nIcon=dvk-sp\n"));
    }

    void debianPackage()
    {
        const QString out = makeTempDir();
        RunResult r =
            run("cpack", {"-G", "DEB", "-B", out, "--config", buildDir() + "/CPackConfig.cmake"},
                600000);
        QVERIFY2(r.code == 0, (r.out + r.err).constData());
        const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString deb = out + "/" + debs.first();

        // Name, version and architecture as Debian names the file.
        r = run("dpkg-deb", {"--field", deb, "Package", "Version", "Architecture", "Depends",
                             "Recommends", "Section"});
        QCOMPARE(r.code, 0);
        QMap<QString, QString> field;
        for (const QString &line : QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts)) {
            const int colon = line.indexOf(':');
            field[line.left(colon)] = line.mid(colon + 1).trimmed();
        }
        QCOMPARE(field["Package"], QString("dvk-sp"));
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(field["Version"]).hasMatch());
        QCOMPARE(debs.first(),
                 QString("dvk-sp_%1_%2.deb").arg(field["Version"], field["Architecture"]));
        QCOMPARE(field["Recommends"], QString("fonts-noto-cjk"));
        QCOMPARE(field["Section"], QString("electronics"));

        // The dependencies come from the executables themselves: Qt's four
        // libraries and the C++ runtime, each with a version floor (a
        // sanitizer build adds its runtime).
        QMap<QString, QString> depends; // package -> the first alternative in full
        for (const QString &alternatives : field["Depends"].split(',')) {
            const QString first = alternatives.split('|').first().trimmed();
            depends[first.section(' ', 0, 0)] = first;
        }
        for (const char *needed : {"libqt5core5a", "libqt5gui5", "libqt5widgets5",
                                   "libqt5serialport5", "libstdc++6", "libc6"})
            QVERIFY2(depends.value(needed).contains(" (>= "), qPrintable(field["Depends"]));
        // Qt's own Chinese texts for the dialogs.
        QVERIFY2(depends.contains("qttranslations5-l10n"), qPrintable(field["Depends"]));
        // TIFF captures are read through Qt's plugin.
        QVERIFY2(depends.contains("qt5-image-formats-plugins"), qPrintable(field["Depends"]));

        // The file list: exactly what cmake --install puts under /usr.
        r = run("dpkg-deb", {"--contents", deb});
        QCOMPARE(r.code, 0);
        QStringList listed;
        for (const QString &line : QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith('d'))
                listed << line.section(' ', -1);
        }
        listed.sort();
        QStringList expected;
        for (const QString &f : kInstalled)
            expected << "./usr/" + f;
        QCOMPARE(listed, expected);

        // Unpacked into a scratch root, it is the same tree, and it runs.
        const QString root = makeTempDir() + "/root";
        r = run("dpkg", {"-x", deb, root});
        QVERIFY2(r.code == 0, r.err.constData());
        checkTree(root + "/usr");
        // Shipped without debug information.
        r = run("file", {root + "/usr/bin/dvk-sp", root + "/usr/bin/dvkctl"});
        QCOMPARE(r.out.count(", stripped"), 2);

        // Every dependency can be met here, as apt would see it.
        r = run("apt-get", {"--simulate", "install", deb});
        QVERIFY2(r.code == 0, (r.out + r.err).constData());
        QVERIFY2(r.out.contains("Inst dvk-sp "), r.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
