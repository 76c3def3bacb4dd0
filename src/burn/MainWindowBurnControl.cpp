// Burn control and the commit countdown, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "MessageBoxes.h"
#include "burn/BurnProtocol.h"

void MainWindow::on_pushButton_BurnRecord_clicked() {}

void MainWindow::ErrorMessage(int err)
{
    switch (err) {
    case StatusDeviceReady:
        lockUi(false);
        break;
    case StatusWriteFailed:
        MessageBoxes::warning(this, tr("写入失败"));
        break;
    default:
        break;
    }
}

void MainWindow::ReceiveTime(int) {}

void MainWindow::stopBurnWork() {}

bool MainWindow::burnInProgress() const
{
    return solidifyInProgress != 0;
}
