#ifndef DVK_MESSAGEBOXES_H
#define DVK_MESSAGEBOXES_H

#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

// The window's two kinds of message box. Titles and button labels are
// translated in the MainWindow context; message texts are passed as the
// caller built them. An informative text, when given, appears below the text.
namespace MessageBoxes
{

// One custom button "确认", default button 0, no escape button.
int warning(QWidget *parent, const QString &text, const QString &informative = QString());
int information(QWidget *parent, const QString &text, const QString &informative = QString());

// The standard Ok button, no default button.
void warningOk(QWidget *parent, const QString &text, const QString &informative = QString());
void informationOk(QWidget *parent, const QString &text, const QString &informative = QString());

// The line under "cannot open" or "cannot write" that says which file and
// the system's reason.
QString fileDetail(const QString &path, const QString &reason);

// The exit question: "确认" (returns 0, default) and "取消" (returns 1), which
// Escape and the title bar's close also answer. While it is open, *open
// points at the box, so that the caller can withdraw it (returns -1).
int question(QWidget *parent, const QString &title, const QString &text,
             QPointer<QMessageBox> *open = nullptr);

} // namespace MessageBoxes

#endif
