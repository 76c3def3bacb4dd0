// All-dark and all-light patterns, window side.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"

void MainWindow::on_pushButton_Dark_clicked()
{
    if (patternLimitExceeded(patternValueCount, 1)) {
        MessageBoxes::warning(this, tr("烧录数据数量 > 61440"));
        return;
    }
    appendPatternRun(patternLines(fixedPattern(0)), QStringLiteral("文件已生成全暗图案"), false);
}

void MainWindow::on_pushButton_Light_clicked()
{
    if (patternLimitExceeded(patternValueCount, 1)) {
        MessageBoxes::warning(this, tr("烧录数据数量 > 61440"));
        return;
    }
    appendPatternRun(patternLines(fixedPattern(255)), QStringLiteral("文件已生成全亮图案"), false);
}
