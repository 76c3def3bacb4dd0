// Burn file loading, window side: choose the file, scan it, show its page
// count and open the preview at page 1.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "MessageBoxes.h"
#include "burnfile/BurnFile.h"
#include "widgets/FileDialogs.h"

void MainWindow::on_pushButton_FileDVK_clicked()
{
    const QString path =
        filedialogs::openFileName(this, tr("打开"), patternDirectory, tr("Text File (*.txt)"));
    if (path.isEmpty())
        return;
    ui->lineEdit_FileDVK->setText(path);
    if (!loadBurnFile())
        return;
    // A failure or success shown there belongs to the file before.
    ui->label_Message->setText(tr("等待烧录"));
    ui->pushButton_Previous->setEnabled(true);
    ui->pushButton_Next->setEnabled(true);
    currentPage = 1;
    drawWave(0);
    drawPicture(currentPage - 1);
}

bool MainWindow::loadBurnFile()
{
    // Read once, and never past what a burnable file can hold: the pages
    // are drawn from what this read kept.
    const BurnFileScan scan = loadedBurnFile.load(ui->lineEdit_FileDVK->text());
    if (!scan.opened) {
        MessageBoxes::warning(this, tr("无法打开文件!"));
        return false;
    }
    burnSampleMax = scan.max;
    burnSampleMin = scan.min;
    if (scan.overLimit()) {
        burnSampleCount = 0;
        ui->label_Page->setText(pageLabel(0));
        ui->lineEdit->setText("0");
        clearPreviews();
        MessageBoxes::warning(this, tr("烧录数据数量 > 61440"));
        return false;
    }
    burnSampleCount = int(scan.count);
    ui->label_Page->setText(burnPageLabel());
    ui->lineEdit->setText("1");
    // With no whole page the field ends at "0". The handler puts it there
    // when the text changed; when the field already read "1" it did not run.
    if (burnPageCount() == 0)
        ui->lineEdit->setText("0");
    return true;
}
