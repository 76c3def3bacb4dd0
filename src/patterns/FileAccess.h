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

// The text for a refused non-regular file.
QString notRegularFileText();

// True when something exists at `path` that is a regular file after
// following links; looked at without opening it, so a pipe or a device
// never blocks the caller.
bool isRegularFile(const QString &path);

// True when `path` is a symbolic link owned by another user in a folder that
// anyone may write to: planted there, it would send what we write wherever
// its owner chose.
bool isForeignLinkInSharedFolder(const QString &path);

// Writes `bytes` as the file `path` through a new file beside it (its name
// fits wherever the target's does), renamed into place once complete: a link
// at `path` is replaced, never written through, and a write that fails
// part-way leaves any file there as it was.
// On failure returns false with the reason in *error, and *notMade (when
// given) true if not even the new file could be made (no such folder, no
// right to write there): the name's fault rather than the write's.
bool replaceFileWith(const QString &path, const QByteArray &bytes, QString *error,
                     bool *notMade = nullptr);

#endif
