#ifndef DVK_WINDOWSUPPORT_H
#define DVK_WINDOWSUPPORT_H

// What the window's tests use beside the core's support: the window's
// private state, modal boxes answered from a timer, and an X server.

#include "support/core/TestSupport.h"

#include "app/mainwindow.h"

#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

// Reaches the window's private state, the way the window's own slot bodies do.
class MainWindowTestAccess
{
public:
    explicit MainWindowTestAccess(MainWindow *w) : w(w) {}

    QString &patternFilePath() { return w->patternFilePath; }
    QString &patternDirectory() { return w->patternDirectory; }
    int &patternValueCount() { return w->patternValueCount; }
    QSize waveCanvasSize() const { return w->waveCanvasSize; }
    QSize pictureCanvasSize() const { return w->pictureCanvasSize; }
    bool canvasSizesCaptured() const { return w->canvasSizesCaptured; }
    int &solidifyInProgress() { return w->solidifyInProgress; }
    QStringList &lastPortList() { return w->lastPortList; }
    bool &portSwitchedOn() { return w->portSwitchedOn; }
    void setScanRate(float f) { w->deviceScanRate.store(f); }
    float scanRate() const { return w->deviceScanRate.load(); }
    int burnSampleCount() const { return w->burnSampleCount.load(); }
    void setBurnSampleCount(int n) { w->burnSampleCount.store(n); }
    int &burnSampleMin() { return w->burnSampleMin; }
    int &burnSampleMax() { return w->burnSampleMax; }
    int &currentPage() { return w->currentPage; }
    const unsigned char *handshake() const { return w->handshake; }
    void choosePatternFile() { w->choosePatternFile(); }
    bool loadBurnFile() { return w->loadBurnFile(); }
    void drawWave(int p) { w->drawWave(p); }
    void drawPicture(int p) { w->drawPicture(p); }
    void startBurn() { w->startBurn(); }
    QThread *discoveryThread() const { return w->selectSerialThread; }
    // The commit countdown's thread is freed a moment after its last step
    // has been shown.
    bool countdownThreadFreed() const { return w->countdownThread == nullptr; }
    static QString openFailureText(const serialplatform::OpenFailure &f)
    {
        return MainWindow::openFailureText(f);
    }

private:
    MainWindow *w;
};

// What a modal box showed when it was answered.
struct ModalSeen {
    QString className;
    QString title;
    QString text;
    QString informativeText;
    QStringList buttons; // button texts in layout order
    QString defaultButton;
    bool seen = false;
};

// Answers the next modal widget (message box or dialog) from a timer: waits
// up to timeoutMs for QApplication::activeModalWidget(), records what it
// shows into *seen, then runs `answer` on it (by default: press the button
// labelled `buttonText`, or reject a dialog). Returns immediately; the answer
// happens while the caller's code sits in the modal loop.
void answerNextModal(ModalSeen *seen, const QString &buttonText = QString(), int timeoutMs = 10000,
                     std::function<void(QWidget *)> answer = nullptr);

// Stops every answerNextModal still waiting (call from a test's cleanup(),
// so that none outlives the ModalSeen it writes to).
void cancelModalAnswers();

// Answers every modal box that shows up until stopped, recording each.
class ModalCollector : public QObject
{
    Q_OBJECT
public:
    explicit ModalCollector(const QString &buttonText = QString());
    ~ModalCollector() override;
    QList<ModalSeen> seen;
    QString buttonText;

private slots:
    void poll();

private:
    int timerId = 0;
    void timerEvent(QTimerEvent *) override { poll(); }
};

// Presses the button with this text on a message box; returns false if none.
bool pressButton(QWidget *modal, const QString &buttonText);

// An X server of the test's own (Xvfb on a free display number), for tests
// that must see the window as a desktop shows it. start() points DISPLAY at
// it and selects the xcb platform for this process; the server ends with the
// object. Its screen is 1600 x 1000 times QT_SCALE_FACTOR (1 when unset), or
// DVK_TEST_SCREEN ("1920x1080") device pixels when that is set.
class VirtualDisplay
{
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;
    bool start(QString *error);

private:
    long long pid = -1;
};

// main() for a test that runs under xcb: the X server first, then the
// application on it.
#define DVK_XCB_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        VirtualDisplay display;                                                                    \
        QString why;                                                                               \
        if (!display.start(&why)) {                                                                \
            fprintf(stderr, "no X server: %s\n", qPrintable(why));                                 \
            return 1;                                                                              \
        }                                                                                          \
        QApplication app(argc, argv);                                                              \
        TestObject tc;                                                                             \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#endif
