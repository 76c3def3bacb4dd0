// Port discovery, window side: refill the port box only when the list changed.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::QStringListReceive(QStringList receice)
{
    if (receice.isSharedWith(lastPortList))
        return;
    if (receice == lastPortList)
        return;
    ui->comboBox_SerialPort->clear();
    for (const QString &name : qAsConst(receice))
        ui->comboBox_SerialPort->addItem(name);
    lastPortList = receice;
}
