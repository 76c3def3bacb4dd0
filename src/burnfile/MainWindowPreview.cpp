// Waveform and pattern preview, window side: the page field, Previous and
// Next, and handing the drawn pages to the two labels.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "burnfile/BurnFile.h"
#include "burnfile/PreviewRender.h"

#include <QPixmap>

int MainWindow::burnPageCount() const
{
    return burnSampleCount / kSamplesPerPage;
}

QString MainWindow::pageLabel(int pages)
{
    return "/ " + QString::number(pages) + " ";
}

void MainWindow::drawWave(int pageIndex)
{
    const BurnPage page = loadedBurnFile.page(ui->lineEdit_FileDVK->text(), pageIndex);
    if (!page.opened) {
        MessageBoxes::warning(this, tr("无法打开文件!"),
                              MessageBoxes::fileDetail(ui->lineEdit_FileDVK->text(), page.error));
        return;
    }
    // A flat file is drawn over 0 … 255, and keeps that range until the
    // next scan.
    const WaveRange range = waveRange(burnSampleMin, burnSampleMax);
    burnSampleMin = range.min;
    burnSampleMax = range.max;
    // A page past the end of the file draws nothing: the label keeps what it
    // showed.
    if (page.values.isEmpty())
        return;
    showWave(page.values, range);
}

void MainWindow::drawPicture(int pageIndex)
{
    const BurnPage page = loadedBurnFile.page(ui->lineEdit_FileDVK->text(), pageIndex);
    if (!page.opened) {
        MessageBoxes::warning(this, tr("无法打开文件!"),
                              MessageBoxes::fileDetail(ui->lineEdit_FileDVK->text(), page.error));
        return;
    }
    if (page.values.isEmpty())
        return;
    showPicture(page.values);
}

void MainWindow::showWave(const QVector<int> &values, const WaveRange &range)
{
    waveShown = values;
    waveShownRange = range;
    ui->label_Wave->setPixmap(QPixmap::fromImage(
        renderWave(values, waveCanvasSize, range, ui->label_Wave->devicePixelRatioF())));
    ui->label_Wave->setScaledContents(true);
}

void MainWindow::showPicture(const QVector<int> &values)
{
    pictureShown = values;
    ui->label_Picture->setPixmap(QPixmap::fromImage(
        renderPicture(values, pictureCanvasSize, ui->label_Picture->devicePixelRatioF())));
    ui->label_Picture->setScaledContents(true);
}

void MainWindow::clearPreviews()
{
    waveShown.clear();
    pictureShown.clear();
    ui->label_Wave->clear();
    ui->label_Picture->clear();
}

// Runs on every change of the field's text, including the changes it makes
// itself; setting an unchanged text emits nothing, which ends the recursion.
void MainWindow::on_lineEdit_textChanged(QString arg1)
{
    if (ui->label_Page->text() == pageLabel(0)) {
        ui->lineEdit->setText("0");
        return;
    }
    const int pages = burnPageCount();
    const int n = arg1.toInt(); // 0 when it is not a number
    if (n > pages) {
        ui->lineEdit->setText(QString::number(pages));
        return;
    }
    if (n <= 0) {
        ui->lineEdit->setText("1");
        return;
    }
    drawWave(n - 1);
    drawPicture(n - 1);
    ui->lineEdit->setText(QString::number(n)); // "05" becomes "5"
    ui->label_Page->setText(burnPageLabel());
    currentPage = n;
}

void MainWindow::on_pushButton_Next_clicked()
{
    if (ui->lineEdit->text() == "0")
        return;
    if (currentPage == burnPageCount()) {
        currentPage = 1;
        ui->lineEdit->setText("1");
    } else {
        ++currentPage;
        ui->lineEdit->setText(QString::number(currentPage));
    }
}

void MainWindow::on_pushButton_Previous_clicked()
{
    if (ui->lineEdit->text() == "0")
        return;
    if (currentPage == 1) {
        currentPage = burnPageCount();
        ui->lineEdit->setText(QString::number(currentPage));
    } else {
        --currentPage;
        ui->lineEdit->setText(QString::number(currentPage));
    }
}
