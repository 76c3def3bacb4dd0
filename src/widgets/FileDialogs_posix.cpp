// The POSIX half of the file dialogs: Qt's own dialog, naming entries by
// kind so that it never reads a file to type it.
#include "widgets/FileDialogs.h"

#include <QFileIconProvider>
#include <QFileInfo>

namespace filedialogs
{

namespace
{

// Type and icon from the entry's kind, never from its contents.
class KindOnlyIcons : public QFileIconProvider
{
public:
    QIcon icon(const QFileInfo &info) const override
    {
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo &info) const override
    {
        return info.isDir() ? QFileDialog::tr("Folder") : QFileDialog::tr("File");
    }
};

QString run(QFileDialog &dialog)
{
    KindOnlyIcons icons;
    dialog.setIconProvider(&icons);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

} // namespace

QString existingDirectory(QWidget *parent, const QString &caption, const QString &start,
                          QFileDialog::Options options)
{
    QFileDialog dialog(parent, caption, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(options);
    return run(dialog);
}

QString openFileName(QWidget *parent, const QString &caption, const QString &start,
                     const QString &filter)
{
    QFileDialog dialog(parent, caption, start, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog);
}

} // namespace filedialogs
