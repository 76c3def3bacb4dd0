#ifndef DVK_FILEDIALOGS_H
#define DVK_FILEDIALOGS_H

#include <QFileDialog>
#include <QString>

class QWidget;

// The window's two file dialogs, as QFileDialog's static functions give
// them. On Windows they are those functions (the system's own dialogs).
// Elsewhere Qt draws its own dialog, whose model asks the MIME database for
// each entry's type and icon: Qt 6's reads the first bytes of every file on
// the GUI thread, so a folder holding a FIFO, or /proc, would hang the window
// for good. There the dialog names entries by kind (folder or file) only.
namespace filedialogs
{

QString existingDirectory(QWidget *parent, const QString &caption, const QString &start,
                          QFileDialog::Options options);

QString openFileName(QWidget *parent, const QString &caption, const QString &start,
                     const QString &filter);

} // namespace filedialogs

#endif
