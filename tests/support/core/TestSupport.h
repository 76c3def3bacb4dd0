#ifndef DVK_TESTSUPPORT_H
#define DVK_TESTSUPPORT_H

// What every layer's tests use: temporary files and running programs (dvkctl
// above all). Nothing here needs a widget.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

// A fresh directory under the system's temporary directory, removed at exit.
QString makeTempDir();

// Writes lines (each followed by "\n") to a file; returns its path.
QString writeLines(const QString &path, const QStringList &lines);

// Writes the bytes as the whole file; returns its path.
QString writeBytes(const QString &path, const QByteArray &bytes);

// The whole contents of a file (empty when it cannot be read).
QByteArray readAll(const QString &path);

// n byte values, 0x00 to 0xFF, the same for the same seed.
QByteArray randomValues(int n, quint32 seed);

// How a test runs a program.
struct RunOptions {
    QString workDir;                 // empty: the test's own
    QProcessEnvironment environment; // empty: the test's own
    QByteArray input;                // written to standard input, which is then closed
    QString standardOutputFile;      // standard output goes there instead (e.g. /dev/full)
    int timeoutMs = 60000;           // from the start; killed when it runs longer
};

RunOptions withEnvironment(const QProcessEnvironment &environment);

// How a run ended: its exit code, or -1 when it did not start, -2 when it
// was killed at its time-out, -3 when it crashed; and what it wrote.
struct RunResult {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// A program that runs while the test goes on: several at once, or one that
// the test signals. Killed if still running when it goes.
class RunningProgram
{
public:
    RunningProgram(const QString &program, const QStringList &args,
                   const RunOptions &options = RunOptions());
    ~RunningProgram();
    RunningProgram(RunningProgram &&) = default;
    RunningProgram &operator=(RunningProgram &&) = default;

    bool started() const { return isStarted; }
    qint64 pid() const { return process->processId(); }
    qint64 elapsedMs() const { return clock.elapsed(); }
    void signal(int sig);
    // Waits for the end (the time-out counts from the start) and collects
    // what it wrote.
    RunResult finish();

private:
    std::unique_ptr<QProcess> process;
    RunOptions options;
    QElapsedTimer clock; // since the start
    bool isStarted = false;
};

RunResult runProgram(const QString &program, const QStringList &args,
                     const RunOptions &options = RunOptions());

// The tools just built.
RunningProgram startDvkctl(const QStringList &args, const RunOptions &options = RunOptions());
RunResult runDvkctl(const QStringList &args, const RunOptions &options);

// Runs dvkctl with the arguments; returns its exit code, with its standard
// output and error through the pointers.
int runDvkctl(const QStringList &args, QByteArray *out = nullptr, QByteArray *err = nullptr,
              int timeoutMs = 60000, const QByteArray &input = QByteArray());

// A number from /proc/self/status ("Threads", "VmRSS" in kB); -1 if absent.
qint64 procStatus(const char *key);

#endif
