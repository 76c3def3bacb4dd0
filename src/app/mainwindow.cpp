// The main window: construction, destruction, the close guard, the capture
// of the canvas sizes and locking of the working controls.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "burn/WorkerThread.h"
#include "serial/ProjectorQuery.h"
#include "serial/SelectSerial.h"
#include "serial/mySerial.h"
#include "widgets/ReturnPressesButton.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIntValidator>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QThread>

#include <algorithm>
#include <iterator>

mySerial *mySerialInstance = nullptr;

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    // Keeps the splash screen up for a moment before the form is built.
    QThread::msleep(200);
    ui->setupUi(this);
    // Never smaller than the content needs, whatever the fonts: below that
    // the layout would cut the canvases off and lay widgets over each other.
    ensurePolished();
    setMinimumSize(minimumSize().expandedTo(minimumSizeHint()));
    fitToScreen();
    ui->label_Wave->installEventFilter(this);
    ui->label_Picture->installEventFilter(this);

    std::copy(std::begin(kProjectorQuery), std::end(kProjectorQuery), handshake);

    selectSerial = new SelectSerial;
    connect(selectSerial, &SelectSerial::QStringListSend, this, &MainWindow::QStringListReceive);
    // Runs until stopDiscovery interrupts it; the worker is freed by the
    // destructor.
    selectSerialThread = startWorkerThread(this, selectSerial, &SelectSerial::Select, nullptr,
                                           [](QThread *thread) { thread->deleteLater(); });

    ui->lineEdit_NStepPhase->setValidator(new QIntValidator(1, 999, this));
    ui->lineEdit_StripeNum->setValidator(new QIntValidator(1, 999, this));
    ui->lineEdit_NGrayCode->setValidator(new QIntValidator(1, 999, this));
    ui->lineEdit_NStripeWave->setValidator(new QIntValidator(1, 999, this));
    ui->lineEdit->setValidator(new QIntValidator(0, 60, this));

    // One driver object for the process, kept until it ends.
    if (!mySerialInstance)
        mySerialInstance = new mySerial(nullptr);

    connect(this, &MainWindow::ErrorMessageSignal, this, &MainWindow::ErrorMessage);
    connect(this, &MainWindow::answerReceived, this, &MainWindow::deliverAnswer,
            Qt::QueuedConnection);

    for (QPushButton *button : findChildren<QPushButton *>())
        pressOnReturn(button);
}

MainWindow::~MainWindow()
{
    // No thread may outlive the objects it uses: stop the burn and port work
    // and the discovery loop, and wait for them, before anything is deleted.
    stopBurnWork();
    stopPortWork();
    stopDiscovery();
    selectSerial->hasEnded();
    delete selectSerial;
    selectSerial = nullptr;
    // The canvases outlive the form object; their events no longer come here.
    ui->label_Wave->removeEventFilter(this);
    ui->label_Picture->removeEventFilter(this);
    delete ui;
}

void MainWindow::fitToScreen()
{
    // The offscreen platform's screen is a placeholder nobody looks at.
    const QScreen *shownOn = screen();
    if (!shownOn || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    // The frame and title bar are the window manager's and unknown before
    // the window is shown: leave room for a usual one.
    const int border = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QSize room =
        shownOn->availableGeometry().size() - QSize(2 * border, titleBar + 2 * border);
    if (minimumWidth() <= room.width() && minimumHeight() <= room.height()) {
        resize(size().boundedTo(room));
        return;
    }
    // The layout cannot shrink to this screen (a high scale on a small
    // one): the content scrolls rather than leaving controls off screen.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollArea_Central"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    QWidget *content = takeCentralWidget();
    scroll->setWidget(content);
    setCentralWidget(scroll);
    setMinimumSize(0, 0);
    resize(size().boundedTo(room));
}

void MainWindow::stopDiscovery()
{
    if (!selectSerialThread)
        return;
    selectSerialThread->requestInterruption();
    selectSerialThread->quit();
    selectSerialThread->wait();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const QString text = burnInProgress() ? tr("正在烧录,是否退出?") : tr("是否退出?");
    const int choice = MessageBoxes::question(this, tr("退出"), text, &exitQuestion);
    // Anything but 确认 (取消, Escape, the box's close, a withdrawal) stays.
    if (choice == 0) {
        // Leaving: a running transfer stops before its next byte.
        stopBurnWork();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::withdrawExitQuestion()
{
    // Hidden now; its loop returns once whatever is shown next is answered.
    if (exitQuestion)
        exitQuestion->reject();
}

void MainWindow::captureCanvasSizes()
{
    // A window system can deliver the window's first resize before the
    // central widget has laid out the canvases for that size (its own resize
    // is still pending and they sit at their minimum): only sizes the layout
    // has really given them are taken, once.
    if (canvasSizesCaptured || ui->centralwidget->testAttribute(Qt::WA_PendingResizeEvent))
        return;
    waveCanvasSize = ui->label_Wave->size();
    pictureCanvasSize = ui->label_Picture->size();
    canvasSizesCaptured = true;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // After the first capture a canvas that changes size (a resize, a
    // maximise) draws its page again at the new size, not stretched.
    if (event->type() == QEvent::Resize && canvasSizesCaptured) {
        if (watched == ui->label_Wave) {
            waveCanvasSize = ui->label_Wave->size();
            if (!waveShown.isEmpty())
                showWave(waveShown, waveShownRange);
        } else if (watched == ui->label_Picture) {
            pictureCanvasSize = ui->label_Picture->size();
            if (!pictureShown.isEmpty())
                showPicture(pictureShown);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    captureCanvasSizes();
    QMainWindow::resizeEvent(event);
}

void MainWindow::showEvent(QShowEvent *event)
{
    // Children have been shown and laid out by the time the window's show
    // event comes.
    captureCanvasSizes();
    QMainWindow::showEvent(event);
}

void MainWindow::lockUi(bool lock)
{
    QWidget *const controls[] = {
        ui->lineEdit_FileDVK,     ui->pushButton_FileDVK,    ui->lineEdit_NStepPhase,
        ui->lineEdit_StripeNum,   ui->pushButton_NStepPhase, ui->lineEdit_NGrayCode,
        ui->lineEdit_NStripeWave, ui->pushButton_NGrayCode,  ui->pushButton_NStripeWave,
        ui->pushButton_Dark,      ui->pushButton_Light,      ui->pushButton_BurnRecord,
    };
    if (lock) {
        ui->lineEdit_NStepPhase->clear();
        ui->lineEdit_StripeNum->clear();
        ui->lineEdit_NGrayCode->clear();
        ui->lineEdit_NStripeWave->clear();
    }
    for (QWidget *control : controls)
        control->setEnabled(!lock);
}
