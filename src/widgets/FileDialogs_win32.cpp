// The Windows half of the file dialogs: the system's own, as Qt's static
// functions give them.
#include "widgets/FileDialogs.h"

namespace filedialogs
{

QString existingDirectory(QWidget *parent, const QString &caption, const QString &start,
                          QFileDialog::Options options)
{
    return QFileDialog::getExistingDirectory(parent, caption, start, options);
}

QString openFileName(QWidget *parent, const QString &caption, const QString &start,
                     const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

} // namespace filedialogs
