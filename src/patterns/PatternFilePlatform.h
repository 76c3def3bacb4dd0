#ifndef DVK_PATTERNFILEPLATFORM_H
#define DVK_PATTERNFILEPLATFORM_H

// What the shared part of PatternFile asks of each platform's half
// (PatternFile_posix.cpp, PatternFile_win32.cpp).

#include <QFile>
#include <QString>

#include <algorithm>

// Counts lines as a reader does: line feeds, plus a last line without one.
// Readers drop carriage returns, so only the last other byte tells whether
// the last line is open.
struct LineCounter {
    qint64 lineFeeds = 0;
    char last = '\n'; // the last byte other than a carriage return

    void add(const char *data, qint64 size)
    {
        lineFeeds += std::count(data, data + size, '\n');
        for (qint64 i = size - 1; i >= 0; --i) {
            if (data[i] != '\r') {
                last = data[i];
                break;
            }
        }
    }
    qint64 lines() const { return lineFeeds + (last != '\n' ? 1 : 0); }
};

// One attempt at the lock that keeps other writers out, without waiting.
enum class WriteLock { Held, Busy, Unsupported };
WriteLock tryWriteLock(QFile &file);
void releaseWriteLock(QFile &file);

// Lines in the open file at `path` as a reader counts them; -1 when it
// cannot be read.
qint64 countOpenFileLines(QFile &file, const QString &path);

// Whether the last line of the open file (`size` bytes) lacks its line feed,
// carriage returns aside.
bool lastLineOpen(QFile &file, qint64 size);

// Bytes a line end takes in a file written in text mode.
int storedLineEndBytes();

// Whether `path` still names the open file: another writer may have removed
// it while this one waited for the lock.
bool openFileStillAt(QFile &file, const QString &path);

// Removes the open file `path` names, so that a writer waiting for its lock
// finds the name no longer its file; true when removed.
bool removeOpenFile(QFile &file, const QString &path);

#endif
