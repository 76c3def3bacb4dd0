// Burn file loading, window side: choose the file, scan it, show its page
// count and open the preview at page 1; and the check of the file when a
// burn starts.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
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
    currentPage = 1;
    drawWave(0);
    drawPicture(currentPage - 1);
}

bool MainWindow::loadBurnFile()
{
    // Read once, and never past what a burnable file can hold: the pages
    // are drawn from what this read kept.
    const QString path = ui->lineEdit_FileDVK->text();
    const BurnFileScan scan = loadedBurnFile.load(path);
    if (!scan.opened) {
        MessageBoxes::warning(this, tr("无法打开文件!"),
                              MessageBoxes::fileDetail(path, scan.error));
        return false;
    }
    burnSampleMax = scan.max;
    burnSampleMin = scan.min;
    // From here on the canvases show this file's page or nothing.
    clearPreviews();
    if (scan.tooLarge() || scan.overLimit()) {
        burnSampleCount = 0;
        loadedBurnFile.clear();
        ui->label_Page->setText(pageLabel(0));
        ui->lineEdit->setText("0");
        ui->pushButton_Previous->setEnabled(false);
        ui->pushButton_Next->setEnabled(false);
        // A file far past the bound was read only as far as the bound: its
        // line count says nothing, its size does.
        MessageBoxes::warning(this, scan.tooLarge() ? burnFileTooLargeText(scan.size)
                                                    : tr("烧录数据数量 > 61440"));
        return false;
    }
    burnSampleCount = int(scan.count);
    ui->label_Page->setText(burnPageLabel());
    // Paging needs a whole page to go to.
    ui->pushButton_Previous->setEnabled(burnPageCount() > 0);
    ui->pushButton_Next->setEnabled(burnPageCount() > 0);
    ui->lineEdit->setText("1");
    // With no whole page the field ends at "0". The handler puts it there
    // when the text changed; when the field already read "1" it did not run.
    if (burnPageCount() == 0)
        ui->lineEdit->setText("0");
    return true;
}

QString MainWindow::burnFileTooLargeText(qint64 size)
{
    return tr("烧录文件过大:%1 字节,最多 %2 字节").arg(size).arg(kMaxBurnFileBytes);
}

bool MainWindow::checkFileForBurn(std::vector<quint8> *values)
{
    // The file may have changed since it was loaded (the path field is
    // editable and the generators append to the file they write): read and
    // check all of it now, before the first byte goes out.
    BurnFileCheck check = checkBurnFile(burnFilePath);
    switch (check.status) {
    case BurnFileStatus::Burnable:
        *values = std::move(check.values);
        return true;
    case BurnFileStatus::CannotOpen:
        burnFailed(tr("无法打开文件"), MessageBoxes::fileDetail(burnFilePath, check.scan.error));
        return false;
    case BurnFileStatus::ValueOutOfRange:
    case BurnFileStatus::NotANumber: // would go out as 0x00
        burnFailed(tr("请输入0x00~0xFF之间的数"));
        return false;
    case BurnFileStatus::TooLarge:
        burnFailed(burnFileTooLargeText(check.scan.size));
        return false;
    case BurnFileStatus::NoWholePage:
    case BurnFileStatus::TooManyValues:
        burnFailed(tr("烧录文件有误"));
        return false;
    }
    return false;
}
