// Burn file loading, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_FileDVK_clicked() {}

bool MainWindow::loadBurnFile()
{
    return false;
}
