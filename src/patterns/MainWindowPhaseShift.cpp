// N-step phase-shift generator, window side.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_NStepPhase_clicked() {}
