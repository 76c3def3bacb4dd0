#ifndef DVK_CLI_CAPTURERUN_H
#define DVK_CLI_CAPTURERUN_H

// The steps that decode, calibrate and reconstruct share: the pattern file
// and its sets, the captures, decoding and checking them, the report, and
// writing results into OUTDIR. Each step that can fail reports why, naming
// the command, and returns the exit code; -1 means go on.

#include "Cli.h"

#include "analysis/CaptureCheck.h"
#include "analysis/CaptureDecoder.h"
#include "analysis/CaptureImages.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace cli
{

// --scan-value and --set, as decode takes them.
QList<QCommandLineOption> captureSetOptions();
// -o OUTDIR and --json, as decode and reconstruct take them.
QList<QCommandLineOption> resultFolderOptions();
// FILE and CAPTURE..., as decode and reconstruct take them.
QList<Argument> captureArguments();

struct PatternSets {
    QString file;
    int scanValue = 0;
    std::vector<CaptureSetRequest> sets;
    CapturePlan plan;
    ScanTiming timing{};
    std::vector<std::vector<int>> pages; // every page of the file
};

// What decode, calibrate and reconstruct check before anything is read or
// written: FILE given, --scan-value readable and -o given (`outputName` in
// the message); with `folder`, -o must not be something other than a
// folder. -1 to go on.
int checkRunStart(const QCommandLineParser &parser, const QString &command,
                  const QString &outputName, bool folder, int *scanValue, QString *output);

// FILE (the first positional argument), --scan-value and --set: the sets
// parsed and planned, the file read and each set checked against it.
int readPatternSets(const QCommandLineParser &parser, const QString &command, PatternSets *out);

// The capture files the arguments name, a directory standing for its
// images in natural name order; exactly `needed` of them.
int captureFiles(const QString &command, const QStringList &args, int needed, QStringList *paths);

// Output files in outDir: none may be an input, a link another user owns
// in a shared folder, or something other than a regular file.
int checkOutputs(const QString &command, const QString &outDir, const QStringList &names,
                 const QStringList &inputs);

// Every capture's size from its header (all alike, none too large), and
// the memory reading the largest takes at its peak.
int captureSizes(const QString &command, const QStringList &paths, QSize *size, qint64 *readBytes);
// The pixels of captures captureSizes found to be of `size`.
int readCaptures(const QString &command, const QStringList &paths, const QSize &size,
                 std::vector<CaptureImage> *images);

struct DecodeRun {
    QStringList capturePaths;
    std::vector<CaptureImage> images;
    int width = 0, height = 0;
    DecodedPositions decoded;
    CaptureCheckResult check;
    qint64 readMs = 0, decodeMs = 0, checkMs = 0;

    std::vector<const float *> planes() const;
    // The light reference's capture, or null when the sets have none.
    const float *light(const CapturePlan &plan) const;
};

// What decoding may allocate: with the program itself, under a gigabyte.
constexpr qint64 kDecodeMemory = qint64(900) << 20;

// Whether `captures` captures of `size` may be held whole in memory and
// decoded, with heldPerPixel bytes a pixel the caller needs beside them,
// within kDecodeMemory: exit 2 naming the need when not.
int wholeDecodeFits(const QString &command, int captures, const QSize &size, qint64 readBytes,
                    qint64 heldPerPixel);
// Runs body; memory that runs out anyway (another program took it) ends
// the run with exit 2 "not enough memory", never with an abort.
int unlessMemoryRunsOut(const QString &command, const std::function<int()> &body);
// Says that decoding would need `need` bytes, more than kDecodeMemory: exit 2.
int memoryRefused(const QString &command, int captures, const QSize &size, qint64 need);

// Reads, decodes and (with `check`) checks the captures: decode's work up
// to its report. Refused (exit 2) before any pixel is read when holding them
// and heldPerPixel bytes a pixel more does not fit in kDecodeMemory.
int decodeCaptures(const QString &command, const PatternSets &sets, const QStringList &paths,
                   DecodeRun *run, bool check = true, qint64 heldPerPixel = 0);

// As decodeCaptures, for captures of any size the headers allow: refused
// (exit 2) before anything is read when even this would need more than
// kDecodeMemory; otherwise each capture is kept at its own depth, beyond
// what fits in memory in a scratch file at scratchPath, and decoded a band
// of rows at a time. With `intensity`, each pixel's intensity is kept too:
// the light reference's capture in run->images (the only one there), or
// without one the fringes' modulation; afterPerPixel: bytes a pixel the
// caller needs once the captures are gone. Otherwise run->images stays empty.
int decodeCaptureStack(const QString &command, const PatternSets &sets, const QStringList &paths,
                       const QString &scratchPath, DecodeRun *run, bool intensity = false,
                       qint64 afterPerPixel = 0);

// decode's report (its report.json) and its text form on standard output.
QJsonObject decodeReport(const PatternSets &sets, const DecodeRun &run);
void printDecodeSummary(const PatternSets &sets, const DecodeRun &run);

// Writes each file into outDir (created if need be), each one replacing
// any file of its name; exit 1 when one cannot be written.
int writeOutputs(const QString &command, const QString &outDir,
                 const std::vector<std::pair<QString, QByteArray>> &files);

// Rounded for reports: four decimals say enough.
double rounded(double v);

} // namespace cli

#endif
