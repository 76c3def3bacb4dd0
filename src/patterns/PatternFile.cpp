#include "PatternFile.h"

#include <QFileInfo>

#include <cerrno>

QString patternFilePathFor(const QString &directory, const QDateTime &time)
{
    return directory + "/wave_" + time.toString("yyyy_MM_dd_hh_mm_ss") + ".txt";
}

QByteArray computedLine(int value)
{
    return "0x" + QByteArray::number(value, 16);
}

QByteArray levelLine(int value)
{
    return value == 255 ? QByteArrayLiteral("0xFF") : QByteArrayLiteral("0x00");
}

QByteArray patternLines(const PatternRun &run)
{
    QByteArray text;
    text.reserve(int(run.values.size()) * 5);
    for (quint8 v : run.values) {
        text += run.form == LineForm::Computed ? computedLine(v) : levelLine(v);
        text += '\n';
    }
    return text;
}

bool patternLimitExceeded(qint64 valueCount, qint64 patterns)
{
    return valueCount / kSamplesPerPage + patterns > kMaxBurnPatterns;
}

PatternFileWriter::PatternFileWriter(const QString &path) : file(path) {}

bool PatternFileWriter::open()
{
    // Unbuffered: a failed write is seen at once and nothing of it lingers in
    // a buffer that would stop the partial output from being cut off again.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                   QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool PatternFileWriter::append(const QByteArray &text)
{
    if (!file.isOpen()) {
        error = QStringLiteral("file not open");
        return false;
    }
    file.unsetError();
    const qint64 before = file.size();
    errno = 0;
    const qint64 written = file.write(text);
    // Taken at once: the clean-up below makes system calls of its own.
    const int failure = errno;
    if (written == text.size() && file.error() == QFileDevice::NoError) {
        lines += text.count('\n');
        return true;
    }
    // Qt reports a full disk as a resource error.
    writeErrno = failure != 0 ? failure : file.error() == QFileDevice::ResourceError ? ENOSPC : 0;
    error = file.error() != QFileDevice::NoError
                ? file.errorString()
                : QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(text.size());
    // Cut the partial run off; if that fails too, count the complete lines
    // that did reach the file.
    if (!file.resize(before)) {
        const qint64 grown = file.size() - before;
#ifdef Q_OS_WIN
        const int lineEnd = 2; // text mode stores "\r\n"
#else
        const int lineEnd = 1;
#endif
        qint64 used = 0;
        int start = 0;
        for (int nl = text.indexOf('\n'); nl >= 0; nl = text.indexOf('\n', start)) {
            used += (nl - start) + lineEnd;
            if (used > grown)
                break;
            ++lines;
            start = nl + 1;
        }
    }
    return false;
}

void PatternFileWriter::close()
{
    file.close();
}

qint64 countFileLines(const QString &path)
{
    // Devices and pipes hold no lines to count (and some never end).
    const QFileInfo info(path);
    if (!info.exists() || (!info.isFile() && !info.isDir()))
        return 0;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint64 count = 0;
    char last = '\n';
    for (;;) {
        const QByteArray chunk = f.read(1 << 16);
        if (chunk.isEmpty())
            break;
        count += chunk.count('\n');
        last = chunk.back();
    }
    if (f.error() != QFileDevice::NoError)
        return -1;
    if (last != '\n')
        ++count;
    return count;
}
