// Waveform and pattern preview, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::drawWave(int) {}

void MainWindow::drawPicture(int) {}

void MainWindow::on_lineEdit_textChanged(QString) {}

void MainWindow::on_pushButton_Next_clicked() {}

void MainWindow::on_pushButton_Previous_clicked() {}
