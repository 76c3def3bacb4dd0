// Starting a burn: check the file once, then stream exactly what was checked.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "MessageBoxes.h"
#include "burn/BurnRecordThread.h"
#include "burn/WorkerThread.h"
#include "burnfile/BurnFile.h"
#include "serial/mySerial.h"

void MainWindow::startBurn()
{
    burnFilePath = ui->lineEdit_FileDVK->text();
    if (!mySerialInstance->isOpen()) {
        MessageBoxes::warning(this, tr("请先打开串口!"));
        // During the commit countdown the countdown's end gives the buttons
        // back; at any other time nothing else would.
        if (!solidifyInProgress) {
            ui->pushButton_SerialPort->setEnabled(true);
            ui->pushButton_FileDVK->setEnabled(true);
        }
        return;
    }

    // The file may have changed since it was loaded (the path field is
    // editable and the generators append to the file they write): read and
    // check all of it now, before the first byte goes out.
    BurnFileCheck check = checkBurnFile(burnFilePath);
    switch (check.status) {
    case BurnFileStatus::Burnable:
        break;
    case BurnFileStatus::CannotOpen:
        burnFailed(tr("无法打开文件"));
        return;
    case BurnFileStatus::ValueOutOfRange:
    case BurnFileStatus::NotANumber: // would go out as 0x00
        burnFailed(tr("请输入0x00~0xFF之间的数"));
        return;
    case BurnFileStatus::TooLarge:
        burnFailed(
            tr("烧录文件过大:%1 字节,最多 %2 字节").arg(check.scan.size).arg(kMaxBurnFileBytes));
        return;
    case BurnFileStatus::NoWholePage:
    case BurnFileStatus::TooManyValues:
        burnFailed(tr("烧录文件有误"));
        return;
    }

    burnValueCount = int(check.values.size());
    ui->progressBar_BurnRecord->setRange(0, burnValueCount);
    ui->progressBar_BurnRecord->setValue(0);
    ui->label_Message->setText("烧录过程中，请稍等");

    burnWorker = new BurnRecordThread(mySerialInstance, std::move(check.values), burnFilePath);
    burnThread = new QThread(this);
    burnWorker->moveToThread(burnThread);
    connect(burnThread, SIGNAL(started()), burnWorker, SLOT(BurnRecord()));
    connect(burnWorker, SIGNAL(finished()), burnThread, SLOT(quit()));
    connect(burnThread, &QThread::finished, this, &MainWindow::endTransferThread);
    // Codes reach ErrorMessage only while their transfer is the current one:
    // a transfer stopped at exit may have codes still queued.
    BurnRecordThread *worker = burnWorker;
    connect(burnWorker, &BurnRecordThread::ErrorMessage, this, [this, worker](int code) {
        if (worker == burnWorker)
            ErrorMessage(code);
    });
    transferRunning = true;
    burnThread->start(QThread::InheritPriority);
}

void MainWindow::endTransferThread()
{
    endWorkerThread(burnThread, burnWorker);
}
