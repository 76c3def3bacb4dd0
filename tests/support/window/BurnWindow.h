#ifndef DVK_BURNWINDOW_H
#define DVK_BURNWINDOW_H

// Driving the window to each state of a burn against the projector
// simulator, and what the process holds (threads) to check that nothing is
// left behind: for the burn tests, the fault tests and the soak.

#include "support/core/Simulator.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include "serial/mySerial.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QLineEdit>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

namespace burnwindow
{

// `count` value lines "0xHH" counting up from `start`.
inline QStringList values(int count, int start = 0)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append("0x" + QString("%1").arg((start + i) % 256, 2, 16, QChar('0')).toUpper());
    return lines;
}

// Answers the directory dialog of a port opening: accepts `directory`, or
// cancels when it is empty. (Keep a ModalCollector out of the way while it
// waits: whichever sees the dialog first answers it.)
inline void answerDirectoryDialog(const QString &directory)
{
    answerNextModal(nullptr, QString(), 10000, [directory](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return; // someone else's box: left to whoever answers it
        if (directory.isEmpty()) {
            dialog->reject();
            return;
        }
        // selectFile leaves the name field alone while it has the focus (the
        // dialog then stays open for good), so the path is typed into the
        // field as a user would, and Choose is pressed again until the dialog
        // has gone.
        QPointer<QFileDialog> open = dialog;
        auto choose = [open, directory]() {
            if (!open || !open->isVisible())
                return;
            if (auto *name = open->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(directory);
            static_cast<QDialog *>(open.data())->accept();
        };
        dialog->setDirectory(directory);
        choose();
        for (int i = 1; i <= 20; ++i)
            QTimer::singleShot(250 * i, open.data(), choose);
    });
}

// Puts `device` in the port box and presses the port button (the directory
// dialog answered with `directory`, or cancelled).
inline void clickOpen(MainWindow &w, const QString &device, const QString &directory = QString())
{
    Ui::MainWindow *ui = w.form();
    ui->comboBox_SerialPort->clear();
    ui->comboBox_SerialPort->addItem(device);
    answerDirectoryDialog(directory);
    ui->pushButton_SerialPort->click();
}

// Opens the port and waits until the projector's answer has unlocked the
// working controls.
inline bool openReady(MainWindow &w, const QString &device, const QString &directory = QString())
{
    clickOpen(w, device, directory);
    return QTest::qWaitFor([&] { return w.form()->pushButton_BurnRecord->isEnabled(); }, 10000);
}

// Loads a burn file the way the file button does once its dialog returned.
inline bool load(MainWindow &w, const QString &path)
{
    w.form()->lineEdit_FileDVK->setText(path);
    return MainWindowTestAccess(&w).loadBurnFile();
}

// Clicks the burn button; returns the box it raised (seen false: none).
inline ModalSeen clickBurn(MainWindow &w)
{
    ModalSeen seen;
    answerNextModal(&seen, QString(), 3000);
    w.form()->pushButton_BurnRecord->click();
    QTest::qWait(50);
    return seen;
}

// Closes the window, confirming the question; returns its text.
inline QString closeConfirmed(MainWindow &w)
{
    ModalSeen seen;
    answerNextModal(&seen, QStringLiteral("确认"));
    w.close();
    return seen.text;
}

inline QList<ModalSeen> withText(const QList<ModalSeen> &boxes, const QString &text)
{
    QList<ModalSeen> found;
    for (const ModalSeen &s : boxes) {
        if (s.text == text)
            found.append(s);
    }
    return found;
}

// No transfer the simulator saw was committed.
inline bool nothingCommitted(SimulatorProcess &sim)
{
    for (const QJsonObject &t : sim.events("transfer")) {
        if (t["committed"].toBool())
            return false;
    }
    return true;
}

// The process' thread count once Qt's global thread pool has been emptied:
// the toolkit parks its image-conversion helpers there and keeps them for
// 30 s after use, which says nothing about threads of ours.
inline qint64 settledThreads()
{
    QThreadPool::globalInstance()->waitForDone();
    return procStatus("Threads");
}

// Waits until the process runs no more than `threads` threads (threads that
// were told to end may take a moment to be reaped).
inline bool threadsSettleTo(qint64 threads, int timeoutMs = 3000)
{
    return QTest::qWaitFor([&] { return settledThreads() <= threads; }, timeoutMs);
}

} // namespace burnwindow

#endif
