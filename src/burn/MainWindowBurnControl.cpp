// Burn control and the commit countdown, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_BurnRecord_clicked() {}

void MainWindow::ErrorMessage(int) {}

void MainWindow::ReceiveTime(int) {}

void MainWindow::stopBurnWork() {}

bool MainWindow::burnInProgress() const
{
    return solidifyInProgress != 0;
}
