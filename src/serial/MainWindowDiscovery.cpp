// Port discovery, window side: refill the port box only when the list changed.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QFileInfo>

void MainWindow::QStringListReceive(QStringList receice)
{
    if (receice.isSharedWith(lastPortList))
        return;
    if (receice == lastPortList)
        return;
    ui->comboBox_SerialPort->clear();
    for (const QString &name : qAsConst(receice)) {
        // A simulator's registration shows by its name and opens by its path.
        if (name.contains('/'))
            ui->comboBox_SerialPort->addItem(QFileInfo(name).fileName(), name);
        else
            ui->comboBox_SerialPort->addItem(name);
    }
    lastPortList = receice;
}
