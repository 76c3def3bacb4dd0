#ifndef DVK_BURNFILE_H
#define DVK_BURNFILE_H

// Reading a burn file: one value per line, each line read as a base-16
// integer. Nothing here keeps a file's values except checkBurnFile, which the
// burn needs; the window keeps only the scan's three integers.

#include "patterns/PatternConstants.h"

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <vector>

// One line as a base-16 integer, with QString::toInt's rules (white space
// around, optional sign, optional 0x/0X, hex digits, fits 32 bits); any other
// line reads as 0.
int convertBurnLine(const QString &line);

// Result of reading a whole file once. min starts at 255 and max at 0, so
// they are min(255, smallest value) and max(0, largest value); the preview
// scales to them.
struct BurnFileScan {
    bool opened = false;
    QString error; // why the file did not open
    qint64 count = 0;
    int min = 255;
    int max = 0;

    qint64 pages() const { return count / kSamplesPerPage; }
    qint64 tail() const { return count % kSamplesPerPage; }
    bool overLimit() const { return count > kMaxBurnSamples; }
};

BurnFileScan scanBurnFile(const QString &path);

// Page p (0-based): lines p × 1024 … p × 1024 + 1023, fewer at the end of the
// file, none when the file ends before the page starts.
struct BurnPage {
    bool opened = false;
    QString error;
    QVector<int> values;
};

BurnPage readBurnPage(const QString &path, qint64 pageIndex);

enum class BurnFileStatus {
    Burnable,
    CannotOpen,
    NoWholePage,     // fewer than 1024 values
    TooManyValues,   // more than 61440 values
    ValueOutOfRange, // a value outside 0x00 … 0xFF
};

// Whether a file may be burned, decided the same way wherever it is asked:
// more than 61440 values first (the load refuses those), then no whole page
// (the burn start refuses those), then the first value outside 0x00 … 0xFF.
struct BurnFileCheck {
    BurnFileStatus status = BurnFileStatus::CannotOpen;
    BurnFileScan scan;
    // Every value of the file, in order, when it is burnable; empty otherwise.
    std::vector<quint8> values;
    // First offending line (1-based) for TooManyValues and ValueOutOfRange,
    // with its value and text (cut to 40 characters) for the latter; 0 otherwise.
    qint64 badLine = 0;
    int badValue = 0;
    QString badText;
    // A short English phrase; empty when burnable.
    QString reason;

    bool burnable() const { return status == BurnFileStatus::Burnable; }
};

// Reads and checks the whole file in one pass.
BurnFileCheck checkBurnFile(const QString &path);

#endif
