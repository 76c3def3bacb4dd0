#include "WindowSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

ModalSeen describe(QWidget *modal)
{
    ModalSeen s;
    s.seen = true;
    s.className = modal->metaObject()->className();
    s.title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        s.text = box->text();
        s.informativeText = box->informativeText();
        for (QAbstractButton *b : box->buttons())
            s.buttons.append(b->text());
        if (box->defaultButton())
            s.defaultButton = box->defaultButton()->text();
    }
    return s;
}

void defaultAnswer(QWidget *modal, const QString &buttonText)
{
    if (!buttonText.isEmpty() && pressButton(modal, buttonText))
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        const auto buttons = box->buttons();
        if (!buttons.isEmpty()) {
            buttons.first()->click();
            return;
        }
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
}

} // namespace

bool pressButton(QWidget *modal, const QString &buttonText)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == buttonText) {
                b->click();
                return true;
            }
        }
    }
    return false;
}

void cancelModalAnswers()
{
    const auto timers = qApp->findChildren<QTimer *>(QStringLiteral("answerNextModal"));
    for (QTimer *t : timers) {
        t->stop();
        t->deleteLater();
    }
}

void answerNextModal(ModalSeen *seen, const QString &buttonText, int timeoutMs,
                     std::function<void(QWidget *)> answer)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto timer = new QTimer(qApp);
    timer->setObjectName(QStringLiteral("answerNextModal"));
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            if (seen)
                *seen = describe(modal);
            if (answer)
                answer(modal);
            else
                defaultAnswer(modal, buttonText);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

ModalCollector::ModalCollector(const QString &buttonText) : buttonText(buttonText)
{
    timerId = startTimer(10);
}

ModalCollector::~ModalCollector()
{
    killTimer(timerId);
}

void ModalCollector::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
        seen.append(describe(modal));
        defaultAnswer(modal, buttonText);
    }
}

VirtualDisplay::~VirtualDisplay()
{
    if (pid > 0) {
        ::kill(pid_t(pid), SIGTERM);
        ::waitpid(pid_t(pid), nullptr, 0);
    }
}

bool VirtualDisplay::start(QString *error)
{
    // Xvfb picks a free display number itself and writes it to the pipe once
    // it accepts connections.
    // A desktop of 1600 x 1000 at any scale factor: a high-density screen
    // has that many times the pixels.
    // DVK_TEST_SCREEN ("1920x1080") sets the size in device pixels instead.
    const int scale = qMax(1, qEnvironmentVariableIntValue("QT_SCALE_FACTOR"));
    const QByteArray chosen = qgetenv("DVK_TEST_SCREEN");
    const QByteArray screen = (chosen.isEmpty() ? QByteArray::number(1600 * scale) + "x" +
                                                      QByteArray::number(1000 * scale)
                                                : chosen) +
                              "x24";
    int fds[2];
    if (::pipe(fds) != 0) {
        *error = "pipe failed";
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        *error = "fork failed";
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        // A test that dies takes its server with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const QByteArray fd = QByteArray::number(fds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", screen.constData(),
                 "-nolisten", "tcp", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    pid = child;
    ::close(fds[1]);
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.endsWith('\n') && clock.elapsed() < 20000) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char c;
        if (::read(fds[0], &c, 1) != 1)
            break;
        number.append(c);
    }
    ::close(fds[0]);
    if (!number.endsWith('\n')) {
        *error = "Xvfb did not report a display (is it installed?)";
        return false;
    }
    qputenv("DISPLAY", ":" + number.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The window draws with the raster engine. Without this, xcb loads the
    // machine's GLX driver at start-up (Mesa's swrast with LLVM), whose
    // one-time allocation LeakSanitizer reports at exit as an unowned leak;
    // the result would depend on which GL drivers a machine has. Child
    // processes inherit it with DISPLAY.
    qputenv("QT_XCB_GL_INTEGRATION", "none");
    return true;
}
