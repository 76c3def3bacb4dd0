#ifndef DVK_PATTERNFILE_H
#define DVK_PATTERNFILE_H

#include "Generators.h"
#include "PatternConstants.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

// Name of a new pattern file in `directory`, stamped with `time` (local):
// directory + "/wave_yyyy_MM_dd_hh_mm_ss.txt", concatenated as is.
QString patternFilePathFor(const QString &directory, const QDateTime &time);

// Where the folder dialog for pattern files starts. Windows' own dialog takes
// ". / " as the current folder; Qt's dialog elsewhere would show that string
// literally (a name field holding a space, Choose greyed out), so there it
// starts in the last folder chosen in this session, else the current one.
QString patternDialogStart(const QString &lastChosen);

// One value line, without its line feed.
QByteArray computedLine(int value); // "0x" + lower-case hex, no leading zeros
QByteArray levelLine(int value);    // "0xFF" for a lit sample, else "0x00"

// The text a run appends: every value on its own line, each ending in "\n".
QByteArray patternLines(const PatternRun &run);

// True when a run of `patterns` patterns may not start: the file would pass
// 60 patterns. Counts whole patterns already written (truncating).
bool patternLimitExceeded(qint64 valueCount, qint64 patterns);

// Appends runs to a pattern file (append mode, text mode, never truncated).
// Only a regular file is written (see openRegularFile). A run either reaches
// the file whole or, when the write fails (disk full, medium gone), its
// partial output is cut off again where the system allows. A file whose last
// line has no line feed gets one first, so the run's first line stays a line
// of its own.
//
// Writers in other processes (a second dvkctl, the window) are kept out by an
// exclusive lock on the file, held from open() to the end of the append: a
// count of the lines already there (existingLines) still holds when the run
// goes in. A file removed by the writer that held the lock is opened again.
class PatternFileWriter
{
public:
    explicit PatternFileWriter(const QString &path);
    ~PatternFileWriter();
    PatternFileWriter(const PatternFileWriter &) = delete;
    PatternFileWriter &operator=(const PatternFileWriter &) = delete;

    // false when the file cannot be opened for appending, is not a regular
    // file (notRegularFile), or another writer keeps it locked too long.
    bool open();
    bool notRegularFile() const { return refusedNotRegular; }
    // Opened, but another writer kept its lock too long.
    bool lockedOut() const { return busy; }
    // Lines already in the file as a reader counts them; -1 when they cannot
    // be read.
    qint64 existingLines();
    // Returns false when not everything reached the file.
    bool append(const QByteArray &lines);
    // Complete lines this writer left in the file.
    int linesAppended() const { return lines; }
    QString errorString() const { return error; }
    // The system's error number for the failed write (errno), 0 if unknown.
    int systemError() const { return writeErrno; }
    void close();
    // For a run that made the file and then failed: removes it, still under
    // the lock, if nothing is in it (a failed append leaves nothing), and
    // closes. True when it was removed.
    bool discardIfEmpty();
    // The size of the open file, in bytes.
    qint64 size() const { return file.size(); }

private:
    bool lock();
    void unlock();

    QString path;
    QFile file;
    bool readable = false; // opened for reading too: the count and the last byte
    bool locked = false;
    bool refusedNotRegular = false;
    bool busy = false;
    int lines = 0;
    QString error;
    int writeErrno = 0;
};

// Number of lines in a file as a reader counts them (a last line without a
// line feed counts too); -1 when it exists but cannot be read, 0 when absent
// or not a regular file.
qint64 countFileLines(const QString &path);

#endif
