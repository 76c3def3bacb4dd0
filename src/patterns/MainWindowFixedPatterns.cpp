// All-dark and all-light patterns, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_Dark_clicked() {}

void MainWindow::on_pushButton_Light_clicked() {}
