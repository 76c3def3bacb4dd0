#ifndef DVK_FILEACCESS_H
#define DVK_FILEACCESS_H

// How pattern files (and the files made from them) are opened: only regular
// files, never a pipe or a device that would block or never end, and by
// exactly the name's bytes.

#include <QFile>
#include <QString>
#include <QStringList>

// File names on this system are bytes, and not every byte string is valid
// UTF-8. A name that is not is kept as UTF-8 with each stray byte as a lone
// surrogate (U+DC80 … U+DCFF), written back as the same byte, so that such a
// file can still be opened by its name. Installed once at start, before any
// name is decoded, this also makes Qt's own conversion (arguments, dialogs,
// QFile) keep every byte where Qt allows it (Qt 5; on Qt 6 names keep their
// bytes only through the functions below).
void installFileNameCodec();

// The bytes of a name, and the name of some bytes, as above.
QByteArray fileNameBytes(const QString &name);
QString fileNameFromBytes(const QByteArray &bytes);

// The program's arguments as main() has them once the application object
// has taken its own, each decoded as a name.
QStringList fileNameArguments(int argc, char **argv);

// True when something exists at `path` (after following links) that is not
// a regular file: a directory, a pipe, a device, a socket.
bool isNonRegularFile(const QString &path);

// Opens `path` into `file` with `mode` (ReadOnly, or WriteOnly / ReadWrite
// with Append, which creates a missing file), refusing anything that is not a
// regular file before it is opened, and again on what was opened (the name
// may have been replaced in between). On failure returns false with the
// reason in *error; *notRegular tells a refusal of a non-regular file from
// other failures.
bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error,
                     bool *notRegular = nullptr);

// True when both paths name the same existing file (after following links,
// hard links included).
bool sameExistingFile(const QString &a, const QString &b);

// Writes `bytes` to `path` through a new file beside it, renamed into place
// once whole: a write that fails (or is cut short) leaves any file already
// there as it was. The reason for a failure goes to *error.
bool replaceFileWith(const QString &path, const QByteArray &bytes, QString *error);

// The text for a refused non-regular file.
QString notRegularFileText();

#endif
