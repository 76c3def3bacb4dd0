#include "Simulator.h"
#include "TestSupport.h"

#include "burn/BurnProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <signal.h>

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

bool SimulatorProcess::start(const QStringList &options, int timeoutMs, bool listed)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!listed)
        env.insert("XDG_RUNTIME_DIR", makeTempDir());
    process.setProcessEnvironment(env);
    process.start(DVKCTL_PATH, QStringList{"simulate"} + options);
    if (!process.waitForStarted(timeoutMs))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!partial.contains('\n')) {
        if (clock.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(50);
        partial += process.readAllStandardOutput();
    }
    const int end = partial.indexOf('\n');
    devicePath = QString::fromLocal8Bit(partial.left(end));
    partial.remove(0, end + 1);
    return !devicePath.isEmpty();
}

void SimulatorProcess::kill()
{
    process.kill();
    process.waitForFinished();
}

void SimulatorProcess::collect()
{
    partial += process.readAllStandardOutput();
    int end;
    while ((end = partial.indexOf('\n')) >= 0) {
        const QByteArray line = partial.left(end);
        partial.remove(0, end + 1);
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            seen.append(doc.object());
    }
}

QList<QJsonObject> SimulatorProcess::events()
{
    collect();
    return seen;
}

QList<QJsonObject> SimulatorProcess::events(const QString &name)
{
    QList<QJsonObject> matching;
    for (const QJsonObject &o : events()) {
        if (o.value("event").toString() == name)
            matching.append(o);
    }
    return matching;
}

bool SimulatorProcess::waitForEvents(const QString &name, int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (events(name).size() < count) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
        if (process.state() == QProcess::NotRunning)
            process.waitForReadyRead(0);
    }
    return true;
}

int SimulatorProcess::stop(int timeoutMs, int signal)
{
    if (process.state() == QProcess::NotRunning)
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ::kill(pid_t(process.processId()), signal);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    collect();
    errors += process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray recordedBytes(const QString &path)
{
    QString file = path;
    if (QFileInfo(path).isDir()) {
        const QStringList files = QDir(path).entryList(QDir::Files, QDir::Name);
        if (files.isEmpty())
            return QByteArray();
        file = path + "/" + files.last();
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes;
    while (!f.atEnd())
        bytes.append(char(f.readLine().trimmed().toInt(nullptr, 16)));
    return bytes;
}

QByteArray dataBytes(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &l : lines)
        bytes.append(char(burnprotocol::dataByte(quint8(l.toInt(nullptr, 16)))));
    return bytes;
}
