// Pattern file: choosing where generated patterns go.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::choosePatternFile() {}
