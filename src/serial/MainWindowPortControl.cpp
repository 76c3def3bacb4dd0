// Port control and the receive thread, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_SerialPort_clicked() {}

void MainWindow::StartComReadThread(void *) {}

void MainWindow::stopPortWork() {}
