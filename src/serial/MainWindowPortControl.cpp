// Port control and the receive thread, window side.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "serial/ProjectorQuery.h"
#include "serial/StatusCodes.h"
#include "serial/mySerial.h"

#include <QDebug>

int MainWindow::openSelectedPort()
{
#ifdef _WIN32
    const QString entry = ui->comboBox_SerialPort->currentText();
    // The digits that end the entry: COM12 is port 12. None gives 0, which
    // opens nothing.
    int start = entry.size();
    while (start > 0 && entry.at(start - 1).isDigit())
        --start;
    const int number = entry.mid(start).toInt();
    return mySerialInstance->openPort(true, number);
#else
    // A number cannot tell ttyS0 from ttyUSB0: open the entry by name, or a
    // simulator's by its path. An empty box opens nothing and says so.
    return mySerialInstance->openPort(true, selectedPortName());
#endif
}

void MainWindow::on_pushButton_SerialPort_clicked()
{
    if (portSwitchedOn) {
        closeSwitchedPort();
        return;
    }
    portSwitchedOn = true;
    if (openSelectedPort() != 0) {
        // The system's reason, and what to do about it, under the message.
        MessageBoxes::warning(this, tr("串口打开失败!"),
                              openFailureText(mySerialInstance->lastOpenFailure()));
        portSwitchedOn = false;
        return;
    }
    openedPortName = selectedPortName();
    vanishedPortName.clear();
    ui->pushButton_SerialPort->setText(tr("关闭串口"));
    ui->Switch->switchclick();
    patternValueCount = 0;
    mySerialInstance->writeData(reinterpret_cast<const char *>(handshake), sizeof handshake);

    const unsigned generation = ++portGeneration;
    joinReceiveThread();
    receiveThread = std::thread(&MainWindow::receiveAnswer, this, generation);

    choosePatternFile();
}

void MainWindow::closeSwitchedPort()
{
    portSwitchedOn = false;
    // Whatever the receive thread still brings belongs to this opening.
    ++portGeneration;
    mySerialInstance->openPort(false, 0);
    // The close has woken its read, so this is quick.
    joinReceiveThread();
    ui->pushButton_SerialPort->setText(tr("打开串口"));
    ui->comboBox_SerialPort->setEnabled(true);
    ui->Switch->switchclick();
    lockUi(true);
    patternFilePath.clear();
    openedPortName.clear();
}

void MainWindow::closeVanishedPort(const QString &shownName)
{
    // The commit countdown has closed the port already and closes the
    // switch itself when it ends.
    if (!portSwitchedOn || solidifyInProgress)
        return;
    const bool wasBurning = transferRunning;
    if (wasBurning) {
        // Nothing more goes out and no code of this transfer arrives.
        stopBurnWork();
        ui->pushButton_FileDVK->setEnabled(true);
        ui->progressBar_BurnRecord->setValue(0);
    }
    // Chosen again when it comes back, so that one click reopens it.
    vanishedPortName = openedPortName;
    closeSwitchedPort();
    ui->pushButton_SerialPort->setEnabled(true);
    if (wasBurning) {
        ui->label_Message->setText(tr("烧录失败"));
        withdrawExitQuestion();
    }
    // Said last: the window is already in its closed state while the box
    // waits, so a list that arrives meanwhile finds nothing more to do.
    MessageBoxes::warning(this, tr("串口已断开!"), shownName);
}

void MainWindow::StartComReadThread(void *p)
{
    auto *window = static_cast<MainWindow *>(p);
    window->receiveAnswer(window->portGeneration.load());
}

void MainWindow::receiveAnswer(unsigned generation)
{
    char buffer[mySerial::kRxBufferSize];
    int count = mySerial::kRxBufferSize;
    mySerialInstance->readData(buffer, &count);
    qDebug() << quint8(buffer[0]) << quint8(buffer[1]) << count;

    int code = StatusWriteFailed;
    float value = 0.0f;
    const ProjectorAnswer answer = projectorAnswer(buffer, count);
    if (answer.valid) {
        value = float(answer.scanValue);
        qDebug() << value;
        code = StatusDeviceReady;
    }
    // Decided on the GUI thread. The values travel as copies inside the
    // queued signal, made by Qt under its own lock, not in an object this
    // thread builds for the other to read.
    emit answerReceived(generation, code, value);
}

void MainWindow::deliverAnswer(uint generation, int code, float value)
{
    // An answer to an opening that has since been closed or replaced neither
    // sets the scan value nor unlocks or warns.
    if (generation != portGeneration.load())
        return;
    if (code == StatusDeviceReady)
        deviceScanRate.store(value);
    emit ErrorMessageSignal(code);
}

void MainWindow::joinReceiveThread()
{
    if (receiveThread.joinable())
        receiveThread.join();
}

void MainWindow::stopPortWork()
{
    // The window is going: drop any answer still on its way, close the port
    // (which wakes a pending read) and wait for the receive thread.
    ++portGeneration;
    if (mySerialInstance)
        mySerialInstance->openPort(false, 0);
    joinReceiveThread();
}
