#ifndef DVK_FILEACCESSPLATFORM_H
#define DVK_FILEACCESSPLATFORM_H

// What the shared part of FileAccess asks of each platform's half
// (FileAccess_posix.cpp, FileAccess_win32.cpp). The halves also define the
// functions of FileAccess.h that are wholly the system's.

#include <QFile>
#include <QString>

enum class RegularOpen { Opened, NotRegular, Failed };

// Opens a non-empty `path` as openRegularFile describes; on Failed the
// reason is in *error, on NotRegular the caller says why.
RegularOpen openRegularOnPlatform(QFile &file, const QString &path, QIODevice::OpenMode mode,
                                  QString *error);

#endif
