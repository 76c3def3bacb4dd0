// Burn control and the commit countdown, window side.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "burn/BurnRecordThread.h"
#include "burn/Solidification.h"
#include "burn/WorkerThread.h"
#include "serial/mySerial.h"

void MainWindow::on_pushButton_BurnRecord_clicked()
{
    // One transfer at a time: a second one would interleave its bytes with
    // the first on the same port.
    if (transferRunning) {
        MessageBoxes::warning(this, tr("烧录过程中，请稍等"));
        return;
    }
    if (ui->lineEdit_FileDVK->text().isEmpty()) {
        MessageBoxes::warning(this, tr("请先选择烧录文件"));
        return;
    }
    if (ui->label_Page->text() == pageLabel(0)) {
        MessageBoxes::warning(this, tr("烧录文件有误"));
        return;
    }
    lockUi(false);
    ui->pushButton_SerialPort->setEnabled(false);
    ui->pushButton_FileDVK->setEnabled(false);
    startBurn();
}

void MainWindow::burnFailed(const QString &message, const QString &detail)
{
    transferRunning = false;
    ui->pushButton_SerialPort->setEnabled(true);
    ui->pushButton_FileDVK->setEnabled(true);
    ui->progressBar_BurnRecord->setValue(0);
    ui->label_Message->setText(tr("烧录失败"));
    withdrawExitQuestion();
    MessageBoxes::warning(this, message, detail);
}

void MainWindow::ErrorMessage(int err)
{
    if (err >= 0) {
        ui->progressBar_BurnRecord->setValue(err);
        return;
    }
    switch (err) {
    case StatusFileOpenFailed:
        burnFailed(tr("无法打开文件"));
        break;
    case StatusValueOutOfRange:
        burnFailed(tr("请输入0x00~0xFF之间的数"));
        break;
    case StatusTransferComplete:
        transferRunning = false;
        startCountdown();
        break;
    case StatusWriteFailed:
        // From the burn: the transfer stopped at the failed byte and sent no
        // commit. From the receive thread: the projector gave no valid answer.
        if (transferRunning)
            burnFailed(tr("写入失败"));
        else
            MessageBoxes::warning(this, tr("写入失败"));
        break;
    case StatusDeviceReady:
        lockUi(false);
        break;
    default:
        break;
    }
}

void MainWindow::startCountdown()
{
    ui->label_Message->setText("数据固化中，请耐心等待");
    mySerialInstance->openPort(false, 0);
    solidifyInProgress = 1;
    ui->progressBar_BurnRecord->setRange(0, burnValueCount);
    ui->progressBar_BurnRecord->setValue(0);

    countdownWorker = new Solidification(burnValueCount);
    Solidification *worker = countdownWorker;
    connect(countdownWorker, &Solidification::TimeDisplay, this, [this, worker](int time) {
        if (worker == countdownWorker)
            ReceiveTime(time);
    });
    countdownThread =
        startWorkerThread(this, countdownWorker, &Solidification::TimeOut,
                          &Solidification::finished, [this](QThread *) { endCountdownThread(); });
}

void MainWindow::endCountdownThread()
{
    endWorkerThread(countdownThread, countdownWorker);
}

void MainWindow::ReceiveTime(int time)
{
    ui->progressBar_BurnRecord->setValue(time);
    if (time != burnValueCount)
        return;
    ui->label_Message->setText(tr("烧录成功"));
    withdrawExitQuestion();
    MessageBoxes::information(this, "烧录完成!");
    ui->pushButton_SerialPort->setEnabled(true);
    ui->pushButton_FileDVK->setEnabled(true);
    ui->progressBar_BurnRecord->setValue(0);
    // Still switched on: this click runs the port's close sequence.
    ui->pushButton_SerialPort->click();
    solidifyInProgress = 0;
}

void MainWindow::stopBurnWork()
{
    // Nothing more is sent once this returns. A write waiting on a stalled
    // line would run on to its time-out (5.5 s): closing the port wakes it.
    if (burnWorker) {
        burnWorker->cancel();
        mySerialInstance->openPort(false, 0);
    }
    endTransferThread();
    transferRunning = false;
    endCountdownThread();
}

bool MainWindow::burnInProgress() const
{
    return transferRunning || solidifyInProgress != 0;
}
