#ifndef DVK_MAINWINDOW_H
#define DVK_MAINWINDOW_H

#include "burnfile/BurnFile.h"
#include "burnfile/PreviewRender.h"
#include "serial/ProjectorQuery.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

QT_BEGIN_NAMESPACE
namespace Ui
{
class MainWindow;
}
QT_END_NAMESPACE

namespace serialplatform
{
struct OpenFailure;
}

class SelectSerial;
class mySerial;
class BurnRecordThread;
class Solidification;
struct SamplingCoverage;

// The driver object shared by the port control, the receive thread and the
// burn worker. Created by the first MainWindow and kept until the process ends.
extern mySerial *mySerialInstance;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Enables the twelve working controls, or clears the four numeric fields
    // and disables them.
    void lockUi(bool lock);

    Ui::MainWindow *form() const { return ui; }

signals:
    void ErrorMessageSignal(int err);
    // The receive thread's result, carried to deliverAnswer on the GUI thread.
    void answerReceived(uint generation, int code, float value);

public slots:
    void QStringListReceive(QStringList receice);
    void ReceiveTime(int time);
    void on_pushButton_FileDVK_clicked();
    void on_pushButton_SerialPort_clicked();
    void on_pushButton_NStepPhase_clicked();
    void on_pushButton_NGrayCode_clicked();
    void on_pushButton_NStripeWave_clicked();
    void on_pushButton_Dark_clicked();
    void on_pushButton_Light_clicked();
    void on_pushButton_Previous_clicked();
    void on_pushButton_Next_clicked();
    void on_pushButton_BurnRecord_clicked();
    void ErrorMessage(int err);
    void on_lineEdit_textChanged(QString arg1);
    static void StartComReadThread(void *p);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Tests reach the window's state through this one class of theirs.
    friend class MainWindowTestAccess;

    // --- start-up and shell -------------------------------------------------
    // The first size within the screen's available area; where the layout's
    // minimum does not fit there, the central widget goes into a scroll area.
    void fitToScreen();
    void stopDiscovery();
    // Takes the canvas sizes for the previews as the layout first placed them;
    // afterwards each canvas takes its new size whenever it is resized.
    void captureCanvasSizes();
    // Each subsystem that runs work off the GUI thread stops it here, before any
    // of the window's objects go away; called by the destructor.
    void stopPortWork();
    void stopBurnWork();
    // True while a transfer or the commit countdown runs: the close guard
    // then warns that a burn is in progress.
    bool burnInProgress() const;
    // The exit question while it is open: when the burn it asks about ends,
    // it is withdrawn (answered No) so that the burn's result never shows
    // stacked on a question that no longer applies.
    QPointer<QMessageBox> exitQuestion;
    void withdrawExitQuestion();

    Ui::MainWindow *ui = nullptr;
    SelectSerial *selectSerial = nullptr;
    QPointer<QThread> selectSerialThread;
    unsigned char handshake[sizeof kProjectorQuery] = {};
    QString patternFilePath;
    QString patternDirectory;
    int patternValueCount = 0;
    QSize waveCanvasSize;
    QSize pictureCanvasSize;
    bool canvasSizesCaptured = false;
    int solidifyInProgress = 0;

    // --- port discovery -------------------------------------------------------
    QStringList lastPortList;
    // The selected entry of the port box as the list names it: a system port's
    // name or a simulator's registration path.
    QString selectedPortName() const;

    // --- pattern file and generators -----------------------------------------
    void choosePatternFile();
    // The folder last chosen in the directory dialog in this session (a
    // cancel keeps it); where the dialog starts next time.
    QString lastChosenDirectory;
    // Appends a generator run to the pattern file, advances patternValueCount
    // by the lines written and shows the completion text or the failure; the
    // phase-shift generator passes standardBoxes for the Ok form of its boxes.
    // A completion note, when given, shows under the completion text.
    void appendPatternRun(const QByteArray &lines, const QString &completion, bool standardBoxes,
                          const QString &completionNote = QString());
    // The warning text for a scan value the model does not cover.
    QString invalidScanValueText(float scanValue) const;
    // The completion box's warning when stripes get fewer than two samples
    // (empty when none do); segments names the square wave's quarter-period
    // segments instead of Gray-code stripes.
    QString samplingWarningText(const SamplingCoverage &coverage, bool segments) const;

    // --- port control and receive thread --------------------------------------
    bool portSwitchedOn = false;
    // The port list's name of the port opened last, kept while it is open.
    QString openedPortName;
    // The entry of an open port whose device went away, until another
    // opening: the refill chooses it again when it is listed once more.
    QString vanishedPortName;
    // The projector's scan value; set from the receive thread's answer when it
    // reports ready.
    std::atomic<float> deviceScanRate{0.0f};
    // The close sequence of the port button: the port, the receive thread,
    // the switch, the locked controls.
    void closeSwitchedPort();
    // The open port's device has left the list: close as the port button
    // does, stopping a transfer first, and say so.
    void closeVanishedPort(const QString &shownName);
    // Opens the device the port box names; 0 or -1 as openPort.
    int openSelectedPort();
    // Why the port did not open, for the box that says so.
    static QString openFailureText(const serialplatform::OpenFailure &failure);
    // The receive thread's work for the opening numbered `generation`, and
    // the hand-over of its result to the GUI thread.
    void receiveAnswer(unsigned generation);
    // The receive thread's result, run on the GUI thread through a queued
    // call that carries copies of the values.
    void deliverAnswer(uint generation, int code, float value);
    void joinReceiveThread();
    // Counts openings and closings of the port: a result that belongs to an
    // earlier one is dropped.
    std::atomic<unsigned> portGeneration{0};
    std::thread receiveThread;

    // --- burn file and preview -------------------------------------------------
    bool loadBurnFile();
    void drawWave(int pageIndex);
    void drawPicture(int pageIndex);
    // Draw the given page values on a canvas at its current size, in the
    // screen's device pixels, and keep them to draw again at a new size.
    void showWave(const QVector<int> &values, const WaveRange &range);
    void showPicture(const QVector<int> &values);
    void clearPreviews();
    // Whole pages of the loaded file, and label_Page's text for them.
    int burnPageCount() const;
    QString burnPageLabel() const { return pageLabel(burnPageCount()); }
    // label_Page's text for a number of whole pages: "/ 0 " says that nothing
    // burnable is loaded.
    static QString pageLabel(int pages);
    std::atomic<int> burnSampleCount{0};
    int burnSampleMin = 0;
    int burnSampleMax = 0;
    int currentPage = 1;
    // The loaded file's values: its pages are drawn without reading it again.
    LoadedBurnFile loadedBurnFile;
    // What each canvas shows, drawn again when the canvas changes size.
    QVector<int> waveShown;
    WaveRange waveShownRange;
    QVector<int> pictureShown;

    // The burn file's check when a burn starts: true with its values, or
    // false after saying why it cannot be burned.
    bool checkFileForBurn(std::vector<quint8> *values);
    // Said at load and at the burn's start for a file larger than any
    // pattern file.
    static QString burnFileTooLargeText(qint64 size);

    // --- burning ---------------------------------------------------------------
    void startBurn();
    void startCountdown();
    // Back to the projector-ready state after a burn that did not complete.
    void burnFailed(const QString &message, const QString &detail = QString());
    void endTransferThread();
    void endCountdownThread();
    QString burnFilePath;
    // The number of values the running burn checked and sends: the progress
    // range and the countdown's length.
    int burnValueCount = 0;
    bool transferRunning = false;
    QThread *burnThread = nullptr;
    BurnRecordThread *burnWorker = nullptr;
    QThread *countdownThread = nullptr;
    Solidification *countdownWorker = nullptr;
};

#endif
