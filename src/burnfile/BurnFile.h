#ifndef DVK_BURNFILE_H
#define DVK_BURNFILE_H

// Reading a burn file: one value per line, each line read as a base-16
// integer. Nothing here keeps a file's values except checkBurnFile, which the
// burn needs, and LoadedBurnFile, from which the window draws its pages.

#include "patterns/PatternConstants.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <vector>

// One line as a base-16 integer, with QString::toInt's rules (white space
// around, optional sign, optional 0x/0X, hex digits, fits 32 bits); any other
// line reads as 0.
int convertBurnLine(const QString &line);

// A valid line is a few characters; a longer one is read only this far and
// is no value (memory stays bounded whatever a file holds).
constexpr int kMaxBurnLineLength = 256;

// No burnable file is larger: 61440 lines of at most kMaxBurnLineLength
// characters, each ended by a carriage return and a line feed. No reader
// reads past this many bytes, whatever the file's size.
constexpr qint64 kMaxBurnFileBytes = qint64(kMaxBurnSamples) * (kMaxBurnLineLength + 2);

// One line of a file as the readers see it: without its line feed, with
// every carriage return removed (as text mode reads it), cut at
// kMaxBurnLineLength bytes.
struct BurnLine {
    QByteArray text;
    bool tooLong = false;
};

// How a line reads. `value` is what the preview draws and the scan counts
// (0 for a line that is not a number); `burnable` says whether the burn may
// send it: an empty line (0) or a number 0x00 … 0xFF, nothing else.
struct BurnLineValue {
    int value = 0;
    bool number = false; // the text converts (an empty line does not)
    bool burnable = false;
};
BurnLineValue readBurnLineValue(const BurnLine &line);

// Reads a pattern file line by line, the one way every reader of it does.
// Only a regular file is opened (see openRegularFile). A last line without a
// line feed is a line; a final line feed adds none. Reading ends after
// kMaxBurnFileBytes bytes: what follows is never read.
class BurnLineReader
{
public:
    explicit BurnLineReader(const QString &path);
    BurnLineReader(const BurnLineReader &) = delete;
    BurnLineReader &operator=(const BurnLineReader &) = delete;

    bool opened() const { return isOpen; }
    // Why the file did not open, or why reading it stopped.
    QString error() const { return why; }
    // False at the end of the file, or when a read failed (failed() then).
    bool next(BurnLine *line);
    bool failed() const { return readFailed; }
    // Whether any line feed / carriage return has been read so far.
    bool sawLineFeed() const { return lineFeeds; }
    bool sawCarriageReturn() const { return carriageReturns; }
    // The file's size when it was opened.
    qint64 size() const { return fileSize; }

private:
    bool fill();

    QFile file;
    bool isOpen = false;
    bool readFailed = false;
    bool lineFeeds = false;
    bool carriageReturns = false;
    QString why;
    QByteArray buffer;
    int at = 0;
    qint64 fileSize = 0;
    qint64 readSoFar = 0;
};

// Result of reading a file once, as far as kMaxBurnFileBytes. min starts at
// 255 and max at 0, so they are min(255, smallest value) and max(0, largest
// value); the preview scales to them. A file larger than that bound cannot
// be burned; its counts are those of the part read.
struct BurnFileScan {
    bool opened = false;
    QString error; // why the file did not open
    qint64 count = 0;
    int min = 255;
    int max = 0;
    qint64 size = 0; // bytes, when it opened

    qint64 pages() const { return count / kSamplesPerPage; }
    qint64 tail() const { return count % kSamplesPerPage; }
    bool overLimit() const { return count > kMaxBurnSamples; }
    bool tooLarge() const { return size > kMaxBurnFileBytes; }
};

// When values is given, it receives the first kMaxBurnSamples values read,
// so that the file's pages can be drawn without reading it again.
BurnFileScan scanBurnFile(const QString &path, QVector<int> *values = nullptr);

// What tells whether a file is still the one a scan read: its identity, size
// and time of last change. Invalid when nothing exists at the path.
struct BurnFileStamp {
    bool valid = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    static BurnFileStamp of(const QString &path);
    bool operator==(const BurnFileStamp &o) const
    {
        return valid && o.valid && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs;
    }
};

// Page p (0-based): lines p × 1024 … p × 1024 + 1023, fewer at the end of the
// file, none when the file ends before the page starts.
struct BurnPage {
    bool opened = false;
    QString error;
    QVector<int> values;
};

BurnPage readBurnPage(const QString &path, qint64 pageIndex);

// The values of a file as one scan read them, so that its pages are drawn
// from memory while the file stays as it was.
class LoadedBurnFile
{
public:
    // Scans path once and keeps its values (see scanBurnFile).
    BurnFileScan load(const QString &path);
    void clear();
    // Page pageIndex of path: from memory when path is the file loaded and
    // it has not changed since, otherwise read from the file.
    BurnPage page(const QString &path, qint64 pageIndex) const;

private:
    QString path;
    BurnFileStamp stamp;
    QVector<int> values;
};

// The values of a pattern file as the loader reads them, line by line, with
// the lines whose text is not a number (the loader reads those as 0): what
// the checks of generated sets and of captures compare with.
struct PatternFileValues {
    bool opened = false;
    QString error;
    std::vector<int> values;
    std::vector<bool> unreadable; // per line: the text did not convert
    bool truncated = false;       // more lines follow than were read
};

// Reads at most maxLines lines, and never more than a burn may hold.
PatternFileValues readPatternFileValues(const QString &path, qint64 maxLines);

enum class BurnFileStatus {
    Burnable,
    CannotOpen,
    NoWholePage,     // fewer than 1024 values
    TooManyValues,   // more than 61440 values
    ValueOutOfRange, // a value outside 0x00 … 0xFF
    NotANumber,      // a line that is neither empty nor a number (too long, too large)
    TooLarge,        // more bytes than any burnable file holds
};

// Whether a file may be burned, decided the same way wherever it is asked:
// a file larger than kMaxBurnFileBytes first (nothing of it is read; the
// scan then holds only its size), then more than 61440 values (the load refuses those), then no
// whole page (the burn start refuses those), then the first line that is not a value 0x00 … 0xFF
// (out of range, or no number at all: the burn would send those as 0x00).
struct BurnFileCheck {
    BurnFileStatus status = BurnFileStatus::CannotOpen;
    BurnFileScan scan;
    // Every value of the file, in order, when it is burnable; empty otherwise.
    std::vector<quint8> values;
    // First offending line (1-based) for TooManyValues, ValueOutOfRange and
    // NotANumber, with its value (0 when not a number) and its text for the
    // latter two (at most 40 characters, bytes outside printable ASCII shown
    // as \xHH); 0 otherwise.
    qint64 badLine = 0;
    int badValue = 0;
    QString badText;
    // A short English phrase; empty when burnable.
    QString reason;

    bool burnable() const { return status == BurnFileStatus::Burnable; }
};

// Reads and checks the file in one pass. A file larger than
// kMaxBurnFileBytes is TooLarge, refused before anything is read.
BurnFileCheck checkBurnFile(const QString &path);

#endif
