// Starting a burn: check the file once, then stream exactly what was checked.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "burn/BurnRecordThread.h"
#include "burn/WorkerThread.h"
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

    std::vector<quint8> values;
    if (!checkFileForBurn(&values))
        return;

    burnValueCount = int(values.size());
    ui->progressBar_BurnRecord->setRange(0, burnValueCount);
    ui->progressBar_BurnRecord->setValue(0);
    ui->label_Message->setText("烧录过程中，请稍等");

    burnWorker = new BurnRecordThread(mySerialInstance, std::move(values), burnFilePath);
    // Codes reach ErrorMessage only while their transfer is the current one:
    // a transfer stopped at exit may have codes still queued.
    BurnRecordThread *worker = burnWorker;
    connect(burnWorker, &BurnRecordThread::ErrorMessage, this, [this, worker](int code) {
        if (worker == burnWorker)
            ErrorMessage(code);
    });
    transferRunning = true;
    burnThread =
        startWorkerThread(this, burnWorker, &BurnRecordThread::BurnRecord,
                          &BurnRecordThread::finished, [this](QThread *) { endTransferThread(); });
}

void MainWindow::endTransferThread()
{
    endWorkerThread(burnThread, burnWorker);
}
