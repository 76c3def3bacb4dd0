// Gray-code generator, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_NGrayCode_clicked() {}
