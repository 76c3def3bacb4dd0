// The Windows half of the serial platform layer must compile, without
// warnings, with the MinGW-w64 cross compiler: the build makes its test
// program (tests/system/CMakeLists.txt), and the Wine stage runs it.
#include <QFileInfo>
#include <QtTest>

class TestSerialWin32 : public QObject
{
    Q_OBJECT

private slots:
    void compiles()
    {
        const QString program = DVK_SERIAL_TEST_WIN;
        if (program.isEmpty())
            QSKIP("x86_64-w64-mingw32-g++ not installed (Debian package "
                  "g++-mingw-w64-x86-64-posix): the Windows serial layer was not compiled");
        // A build that failed to compile it stops before the tests; one that
        // left an old program behind is caught here.
        const QFileInfo built(program);
        QVERIFY2(built.size() > 0, qPrintable(program));
        for (const char *source :
             {"SerialPlatform_win32.cpp", "SerialReply.cpp", "SerialPlatform.h"})
            QVERIFY2(built.lastModified() >=
                         QFileInfo(QString(DVK_SOURCE_DIR "/src/serial/") + source).lastModified(),
                     source);
    }
};

QTEST_GUILESS_MAIN(TestSerialWin32)
#include "tst_serial_win32.moc"
