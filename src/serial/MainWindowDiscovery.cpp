// Port discovery, window side: refill the port box only when the list changed.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "serial/SelectSerial.h"

#include <QFileInfo>

void MainWindow::QStringListReceive(QStringList receice)
{
    if (receice.isSharedWith(lastPortList))
        return;
    if (receice == lastPortList)
        return;
    // The refill keeps the user's choice: the same entry stays selected while
    // it is listed, and an open port's entry is never replaced by another
    // device's.
    const QString selected = selectedPortName();
    const bool openedWasListed = portSwitchedOn && lastPortList.contains(openedPortName);
    ui->comboBox_SerialPort->clear();
    for (const QString &name : qAsConst(receice)) {
        // A simulator's registration shows by its name and opens by its path.
        if (name.contains('/'))
            ui->comboBox_SerialPort->addItem(QFileInfo(name).fileName(), name);
        else
            ui->comboBox_SerialPort->addItem(name);
    }
    ui->comboBox_SerialPort->setCurrentIndex(portEntryAfterRefill(
        receice, selected, portSwitchedOn ? openedPortName : vanishedPortName));
    lastPortList = receice;
    // The open port's device has gone (unplugged, or its simulator ended):
    // the port is useless until it is opened again.
    if (openedWasListed && !receice.contains(openedPortName))
        closeVanishedPort(openedPortName.contains('/') ? QFileInfo(openedPortName).fileName()
                                                       : openedPortName);
}

QString MainWindow::selectedPortName() const
{
    const QVariant path = ui->comboBox_SerialPort->currentData();
    return path.isValid() ? path.toString() : ui->comboBox_SerialPort->currentText();
}
