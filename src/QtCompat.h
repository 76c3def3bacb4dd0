#ifndef DVK_QTCOMPAT_H
#define DVK_QTCOMPAT_H

// The few things Qt 5 and Qt 6 do differently, and the only place that asks
// which one it is built with.

#include <QByteArray>
#include <QString>

// Where Qt's own translations (qtbase_*.qm) are installed.
QString qtTranslationsPath();

// A file-name converter: bytes to a name, and back. `unfinished`, when given,
// receives the length of a valid sequence that the bytes end in the middle
// of, left undecoded; `invalid` counts characters that had no byte form.
using FileNameDecoder = QString (*)(const char *bytes, int length, int *unfinished);
using FileNameEncoder = QByteArray (*)(const QChar *text, int length, int *invalid);

// Makes Qt decode and encode file names (arguments, directory entries, file
// dialogs, QFile) with these where Qt lets a program choose, and returns
// whether Qt's own conversion now keeps every byte string. Qt 5 converts
// names with the locale's codec: a UTF-8 locale's is replaced by these, the
// others already keep every byte. Qt 6 always takes names on this system as
// plain UTF-8 (a byte that is not becomes U+FFFD) and offers no choice: there
// it returns false, and names keep their bytes only through our own file
// functions.
bool installQtFileNameConverter(FileNameDecoder decode, FileNameEncoder encode);

#endif
