// The Windows half of the serial platform layer cannot run here; it must at
// least compile, without warnings, with the MinGW-w64 cross compiler.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestSerialWin32 : public QObject
{
    Q_OBJECT

private slots:
    void compiles()
    {
        const QString compiler = QStandardPaths::findExecutable("x86_64-w64-mingw32-g++");
        if (compiler.isEmpty())
            QSKIP("x86_64-w64-mingw32-g++ not installed (Debian package "
                  "g++-mingw-w64-x86-64-posix): the Windows serial layer was not compiled");
        QTemporaryDir out;
        QProcess cc;
        cc.setProcessChannelMode(QProcess::MergedChannels);
        cc.start(compiler, {"-std=c++17", "-Wall", "-Wextra", "-Werror", "-ffp-contract=off", "-I",
                            DVK_SOURCE_DIR "/src", "-c",
                            DVK_SOURCE_DIR "/src/serial/SerialPlatform_win32.cpp", "-o",
                            out.filePath("SerialPlatform_win32.o")});
        QVERIFY(cc.waitForFinished(120000));
        QVERIFY2(cc.exitStatus() == QProcess::NormalExit && cc.exitCode() == 0,
                 cc.readAll().constData());
        QVERIFY(QFileInfo(out.filePath("SerialPlatform_win32.o")).size() > 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialWin32)
#include "tst_serial_win32.moc"
