// The Windows half of the serial platform layer must compile, without
// warnings, with the MinGW-w64 cross compiler. (The Wine stage runs it.)
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
        // With the reply's read loop, which runs on the Windows calls too.
        for (const char *name : {"SerialPlatform_win32", "SerialReply"}) {
            cc.start(compiler, {"-std=c++17", "-Wall", "-Wextra", "-Werror", "-ffp-contract=off",
                                "-I", DVK_SOURCE_DIR "/src", "-c",
                                QString(DVK_SOURCE_DIR "/src/serial/%1.cpp").arg(name), "-o",
                                out.filePath(QString("%1.o").arg(name))});
            QVERIFY(cc.waitForFinished(120000));
            QVERIFY2(cc.exitStatus() == QProcess::NormalExit && cc.exitCode() == 0,
                     cc.readAll().constData());
            QVERIFY(QFileInfo(out.filePath(QString("%1.o").arg(name))).size() > 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialWin32)
#include "tst_serial_win32.moc"
