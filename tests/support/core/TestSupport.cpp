#include "TestSupport.h"

#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QTemporaryDir>

#ifndef _WIN32
#include <signal.h>
#endif

QString makeTempDir()
{
    static QList<std::shared_ptr<QTemporaryDir>> dirs;
    auto dir = std::make_shared<QTemporaryDir>();
    dirs.append(dir);
    return dir->path();
}

QString writeLines(const QString &path, const QStringList &lines)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (const QString &l : lines)
        f.write((l + "\n").toLatin1());
    f.close();
    return path;
}

QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray randomValues(int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray v(n, '\0');
    for (int i = 0; i < n; ++i)
        v[i] = char(rng.bounded(256));
    return v;
}

RunOptions withEnvironment(const QProcessEnvironment &environment)
{
    RunOptions options;
    options.environment = environment;
    return options;
}

RunningProgram::RunningProgram(const QString &program, const QStringList &args,
                               const RunOptions &options)
    : process(std::make_unique<QProcess>()), options(options)
{
    if (!options.workDir.isEmpty())
        process->setWorkingDirectory(options.workDir);
    if (!options.environment.isEmpty())
        process->setProcessEnvironment(options.environment);
    if (!options.standardOutputFile.isEmpty())
        process->setStandardOutputFile(options.standardOutputFile);
    clock.start();
    process->start(program, args);
    isStarted = process->waitForStarted(10000);
    if (!isStarted)
        return;
    if (!options.input.isEmpty())
        process->write(options.input);
    process->closeWriteChannel();
}

RunningProgram::~RunningProgram()
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
}

void RunningProgram::signal(int sig)
{
#ifdef _WIN32
    Q_UNUSED(sig)
    if (isStarted)
        process->kill(); // no signals to send
#else
    if (isStarted)
        ::kill(pid_t(process->processId()), sig);
#endif
}

RunResult RunningProgram::finish()
{
    RunResult r;
    if (!isStarted)
        return r;
    const qint64 left = options.timeoutMs - clock.elapsed();
    if (!process->waitForFinished(int(qMax<qint64>(left, 0)))) {
        process->kill();
        process->waitForFinished();
        r.code = -2;
    } else {
        r.code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -3;
    }
    r.out = process->readAllStandardOutput();
    r.err = process->readAllStandardError();
    return r;
}

RunResult runProgram(const QString &program, const QStringList &args, const RunOptions &options)
{
    return RunningProgram(program, args, options).finish();
}

RunningProgram startDvkctl(const QStringList &args, const RunOptions &options)
{
    return RunningProgram(DVKCTL_PATH, args, options);
}

RunResult runDvkctl(const QStringList &args, const RunOptions &options)
{
    return runProgram(DVKCTL_PATH, args, options);
}

int runDvkctl(const QStringList &args, QByteArray *out, QByteArray *err, int timeoutMs,
              const QByteArray &input)
{
    RunOptions options;
    options.timeoutMs = timeoutMs;
    options.input = input;
    const RunResult r = runDvkctl(args, options);
    if (out)
        *out = r.out;
    if (err)
        *err = r.err;
    return r.code;
}

qint64 procStatus(const char *key)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
