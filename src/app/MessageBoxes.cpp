#include "app/MessageBoxes.h"

#include <QCoreApplication>
#include <QDir>
#include <QPushButton>

namespace
{

QString trMain(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// The box that QMessageBox's button-text overloads build, with room for an
// informative text: custom buttons in order, the default by number, and the
// button that Escape and the title bar's close press by number (-1: none).
int customButtonBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                    const QString &text, const QStringList &buttons, int defaultButton,
                    const QString &informative, int escapeButton = -1,
                    QPointer<QMessageBox> *open = nullptr)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    if (open)
        *open = &box;
    QList<QPushButton *> added;
    for (const QString &label : buttons)
        added.append(box.addButton(label, QMessageBox::ActionRole));
    box.setDefaultButton(added.value(defaultButton));
    box.setEscapeButton(added.value(escapeButton));
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    box.exec();
    return added.indexOf(static_cast<QPushButton *>(box.clickedButton()));
}

void standardBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                 const QString &informative)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::NoButton);
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    box.exec();
}

} // namespace

namespace MessageBoxes
{

int warning(QWidget *parent, const QString &text, const QString &informative)
{
    return customButtonBox(parent, QMessageBox::Warning, trMain("错误"), text, {trMain("确认")}, 0,
                           informative);
}

int information(QWidget *parent, const QString &text, const QString &informative)
{
    return customButtonBox(parent, QMessageBox::Information, trMain("提示"), text, {trMain("确认")},
                           0, informative);
}

void warningOk(QWidget *parent, const QString &text, const QString &informative)
{
    standardBox(parent, QMessageBox::Warning, trMain("错误"), text, informative);
}

void informationOk(QWidget *parent, const QString &text, const QString &informative)
{
    standardBox(parent, QMessageBox::Information, trMain("提示"), text, informative);
}

QString fileDetail(const QString &path, const QString &reason)
{
    const QString shown = QDir::toNativeSeparators(path);
    return reason.isEmpty() ? shown : shown + trMain("：") + reason;
}

int question(QWidget *parent, const QString &title, const QString &text,
             QPointer<QMessageBox> *open)
{
    return customButtonBox(parent, QMessageBox::Question, title, text,
                           {trMain("确认"), trMain("取消")}, 0, QString(), 1, open);
}

} // namespace MessageBoxes
