// The window on a real X server (an Xvfb of the test's own, the xcb platform),
// where the window system's events arrive as on a user's desktop: the preview
// drawn at the canvases' real size in device pixels, the smallest window,
// Qt's own dialogs in Chinese, the folder dialog, the chosen port while ports
// come and go, the keyboard, and a simulator picked from the port list and
// burned through.
#include "app/QtTranslation.h"
#include "serial/SimulatorPorts.h"
#include "support/core/Simulator.h"
#include "support/window/BurnWindow.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QSet>
#include <QtTest>

namespace
{

int entryIndex(QComboBox *box, const QString &text)
{
    return box->findText(text, Qt::MatchExactly);
}

// The colours the X server shows inside a widget, a margin in from its edges
// (the canvases' rounded corners blend into the window there).
QSet<QRgb> screenColours(QWidget *widget, int margin)
{
    const QPoint at = widget->mapTo(widget->window(), QPoint(margin, margin));
    const QImage shot =
        widget->screen()
            ->grabWindow(widget->window()->winId(), at.x(), at.y(), widget->width() - 2 * margin,
                         widget->height() - 2 * margin)
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            colours.insert(shot.pixel(x, y));
    return colours;
}

QString describe(const QSet<QRgb> &colours)
{
    QStringList names;
    for (QRgb c : colours)
        names << QColor(c).name();
    names.sort();
    return names.mid(0, 12).join(' ') + (names.size() > 12 ? " ..." : "");
}

} // namespace

class TestWindowXcb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        // Registrations of this test's simulators only.
        qputenv("XDG_RUNTIME_DIR", makeTempDir().toLocal8Bit());
    }
    void cleanup() { cancelModalAnswers(); }

    // A page alternating 0x00 and 0xFF shows black and pure red stripes only
    // and a pure red curve on white, in every device pixel of the canvases,
    // at the first size, after a resize and maximised: each canvas is drawn
    // at its size in device pixels, again whenever that size changes. Run
    // at scale factors 1 and 2.
    void twoLevelPageAtAnySize()
    {
        MainWindow w;
        w.setWindowTitle("DVK_SP_V2.03");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        Ui::MainWindow *ui = w.form();
        MainWindowTestAccess a(&w);

        // The sizes the layout gave the canvases, not their minimum.
        QVERIFY(a.canvasSizesCaptured());
        QVERIFY2(ui->label_Picture->width() > 1100 && ui->label_Picture->height() > 140,
                 qPrintable(QString("%1 x %2")
                                .arg(ui->label_Picture->width())
                                .arg(ui->label_Picture->height())));

        QStringList lines;
        for (int i = 0; i < 1024; ++i)
            lines << (i % 2 ? "0xFF" : "0x00");
        w.lockUi(false);
        ui->lineEdit_FileDVK->setText(writeLines(makeTempDir() + "/alternating.txt", lines));
        QVERIFY(a.loadBurnFile());

        const QSize available = w.screen()->availableGeometry().size();
        const QList<QSize> sizes = {w.size(), w.size() + QSize(150, 120),
                                    // What a window manager does on maximise.
                                    available - (w.frameGeometry().size() - w.size())};
        for (const QSize &size : sizes) {
            w.resize(size);
            QTRY_COMPARE(w.size(), size);
            const QString at = QString("at %1 x %2, scale %3: ")
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(w.devicePixelRatioF());
            for (QLabel *canvas : {ui->label_Wave, ui->label_Picture}) {
                const QPixmap shown = canvas->pixmap(Qt::ReturnByValue);
                QCOMPARE(shown.size(), canvas->size() * w.devicePixelRatioF());
                QCOMPARE(shown.devicePixelRatioF(), w.devicePixelRatioF());
            }
            QTest::qWait(200); // painted and flushed to the server
            const QSet<QRgb> stripes = screenColours(ui->label_Picture, 10);
            QVERIFY2(stripes == (QSet<QRgb>{qRgb(0, 0, 0), qRgb(255, 0, 0)}),
                     qPrintable(at + describe(stripes)));
            const QSet<QRgb> curve = screenColours(ui->label_Wave, 10);
            QVERIFY2(curve == (QSet<QRgb>{qRgb(255, 255, 255), qRgb(255, 0, 0)}),
                     qPrintable(at + describe(curve)));
        }
    }

    // At its smallest the window still shows every widget whole: none lies
    // over another, the canvases keep their minimum size.
    void nothingOverlapsAtMinimumSize()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.minimumWidth() >= 1000 && w.minimumHeight() >= 600);
        w.resize(1, 1);
        QTRY_COMPARE(w.size(), w.minimumSize());
        QTest::qWait(50);

        QList<QWidget *> widgets;
        for (QWidget *c : w.centralWidget()->findChildren<QWidget *>()) {
            if (c->isVisible())
                widgets << c;
        }
        const QRect window(QPoint(0, 0), w.size());
        auto place = [&](QWidget *c) { return QRect(c->mapTo(&w, QPoint(0, 0)), c->size()); };
        for (QWidget *c : widgets) {
            QVERIFY2(window.contains(place(c)), qPrintable(c->objectName()));
            for (QWidget *d : widgets) {
                if (c == d || c->isAncestorOf(d) || d->isAncestorOf(c))
                    continue;
                QVERIFY2(!place(c).intersects(place(d)),
                         qPrintable(c->objectName() + " over " + d->objectName()));
            }
        }
        for (QWidget *canvas : {w.form()->label_Wave, w.form()->label_Picture})
            QVERIFY(canvas->width() >= 1100 && canvas->height() >= 140);
    }

    // The window within the screen's available area, and every control
    // reachable: on the usual desktop as laid out, on a screen too small for
    // the layout (a high scale on a laptop) by scrolling the content.
    void fitsTheScreen()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize available = w.screen()->availableGeometry().size();
        QVERIFY2(w.frameGeometry().width() <= available.width() &&
                     w.frameGeometry().height() <= available.height(),
                 qPrintable(QString("%1x%2").arg(w.width()).arg(w.height())));
        auto *scroll = qobject_cast<QScrollArea *>(w.centralWidget());
        if (qEnvironmentVariableIsEmpty("DVK_TEST_SCREEN")) {
            // Where the layout fits, nothing changes.
            QVERIFY(!scroll);
            QCOMPARE(w.size(), QSize(1286, 691));
            return;
        }
        Ui::MainWindow *ui = w.form();
        QWidget *view = scroll ? scroll->viewport() : w.centralWidget();
        const QRect window(view->mapTo(&w, QPoint(0, 0)), view->size());
        for (QWidget *c : QList<QWidget *>{ui->pushButton_BurnRecord, ui->progressBar_BurnRecord,
                                           ui->label_Message, ui->groupBox_4, ui->groupBox_5,
                                           ui->pushButton_Next, ui->label_Wave}) {
            if (scroll)
                scroll->ensureWidgetVisible(c, 0, 0);
            QTest::qWait(20);
            const QRect place(c->mapTo(&w, QPoint(0, 0)), c->size());
            // A widget wider than the view shows its whole height.
            const bool seen = place.width() > window.width()
                                  ? place.top() >= window.top() &&
                                        place.bottom() <= window.bottom() &&
                                        place.intersects(window)
                                  : window.contains(place);
            QVERIFY2(seen, qPrintable(c->objectName() + QString(" at %1,%2 %3x%4 in %5x%6 at %7,%8")
                                                            .arg(place.x())
                                                            .arg(place.y())
                                                            .arg(place.width())
                                                            .arg(place.height())
                                                            .arg(window.width())
                                                            .arg(window.height())
                                                            .arg(window.x())
                                                            .arg(window.y())));
        }
    }

    // Qt's own texts in Chinese; the window's own texts exactly as written.
    void qtDialogsInChinese()
    {
        QVERIFY(installQtChinese(qApp));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QString title;
        QStringList texts;
        answerNextModal(nullptr, QString(), 10000, [&](QWidget *modal) {
            title = modal->windowTitle();
            for (QAbstractButton *b : modal->findChildren<QAbstractButton *>()) {
                if (b->isVisible() && !b->text().isEmpty())
                    texts << b->text();
            }
            for (QLabel *l : modal->findChildren<QLabel *>()) {
                if (l->isVisible() && !l->text().isEmpty())
                    texts << l->text();
            }
            static_cast<QDialog *>(modal)->reject();
        });
        MainWindowTestAccess(&w).choosePatternFile();
        QCOMPARE(title, QString("请选择烧录文件保存路径"));
        QVERIFY(texts.size() >= 4);
        for (const QString &t : texts)
            QVERIFY2(!t.contains(QRegularExpression("[A-Za-z]{2}")), qPrintable(texts.join('|')));

        // A standard Ok box (the phase-shift generator's) reads in Chinese too.
        ModalSeen seen;
        answerNextModal(&seen);
        w.lockUi(false);
        w.form()->pushButton_NStepPhase->click();
        QCOMPARE(seen.text, QString("请输入N值或条纹数!"));
        QCOMPARE(seen.buttons.size(), 1);
        QVERIFY2(!seen.buttons.first().contains(QRegularExpression("[A-Za-z]{2}")),
                 qPrintable(seen.buttons.first()));

        // The close question keeps the window's own words.
        answerNextModal(&seen, QStringLiteral("取消"));
        w.close();
        QCOMPARE(seen.buttons, (QStringList{"确认", "取消"}));
        QCOMPARE(seen.title, QString("退出"));
    }

    // The folder dialog starts in the current folder, then in the one chosen
    // last; Choose works at once and a name typed with Return is taken.
    void folderDialog()
    {
        MainWindow w;
        const QString start = makeTempDir();
        QVERIFY(QDir(start).mkdir("patterns"));
        QDir::setCurrent(start);
        QStringList shown;
        for (const QString &typed : QStringList{"patterns", ""}) {
            answerNextModal(nullptr, QString(), 10000, [&](QWidget *modal) {
                auto *dialog = static_cast<QFileDialog *>(modal);
                auto *choose = dialog->findChild<QDialogButtonBox *>()->buttons().first();
                shown << dialog->directory().absolutePath() + (choose->isEnabled() ? "" : " off");
                auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
                QTest::keyClicks(name, typed);
                QTest::keyClick(name, typed.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
            });
            MainWindowTestAccess(&w).choosePatternFile();
            QCOMPARE(MainWindowTestAccess(&w).patternDirectory(),
                     typed.isEmpty() ? QString() : start + "/" + typed);
        }
        QCOMPARE(shown, (QStringList{start, start + "/patterns"}));
    }

    // Two simulators, the second chosen: the first ending and returning
    // leaves the choice alone; the open one ending never puts the other in
    // its place; once back, the next opening reaches it.
    void chosenPortSurvivesReplugs()
    {
        MainWindow w;
        Ui::MainWindow *ui = w.form();
        QComboBox *box = ui->comboBox_SerialPort;
        auto sim = [](const char *name) {
            auto s = std::make_unique<SimulatorProcess>();
            return s->start({"--name", name}, 5000, true) ? std::move(s) : nullptr;
        };
        auto first = sim("bench-a"), second = sim("bench-b");
        QVERIFY(first && second);
        QTRY_VERIFY_WITH_TIMEOUT(entryIndex(box, "bench-a") >= 0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(entryIndex(box, "bench-b") >= 0, 10000);
        box->setCurrentIndex(entryIndex(box, "bench-b"));
        const int all = box->count();
        first.reset();
        QTRY_COMPARE_WITH_TIMEOUT(box->count(), all - 1, 10000);
        QVERIFY((first = sim("bench-a")));
        QTRY_COMPARE_WITH_TIMEOUT(box->count(), all, 10000);
        QCOMPARE(box->currentText(), QString("bench-b"));

        burnwindow::answerDirectoryDialog(makeTempDir());
        ui->pushButton_SerialPort->click();
        QVERIFY(second->waitForEvents("query", 1));
        // The open one ending closes the port and says so.
        ModalSeen gone;
        answerNextModal(&gone, QStringLiteral("确认"));
        second.reset();
        QTRY_COMPARE_WITH_TIMEOUT(box->count(), all - 1, 10000);
        QCOMPARE(box->currentIndex(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(gone.seen, 5000);
        QCOMPARE(gone.text, QStringLiteral("串口已断开!"));
        QCOMPARE(ui->pushButton_SerialPort->text(), QStringLiteral("打开串口"));
        QVERIFY((second = sim("bench-b")));
        QTRY_COMPARE_WITH_TIMEOUT(box->currentText(), QString("bench-b"), 10000);
        burnwindow::answerDirectoryDialog(makeTempDir());
        ui->pushButton_SerialPort->click();
        QVERIFY(second->waitForEvents("query", 1));
        QVERIFY(first->events("query").isEmpty());
    }

    // Tab goes through a group's fields before its button; Return and Enter
    // press the focused button.
    void keyboard()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QApplication::setActiveWindow(&w);
        Ui::MainWindow *ui = w.form();
        w.lockUi(false);
        ui->lineEdit_NStepPhase->setFocus();
        QTRY_VERIFY(ui->lineEdit_NStepPhase->hasFocus());
        QTest::keyClick(ui->lineEdit_NStepPhase, Qt::Key_Tab);
        QVERIFY(ui->lineEdit_StripeNum->hasFocus());
        QTest::keyClick(ui->lineEdit_StripeNum, Qt::Key_Tab);
        QVERIFY(ui->pushButton_NStepPhase->hasFocus());
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            ModalSeen seen;
            answerNextModal(&seen);
            QTest::keyClick(ui->pushButton_NStepPhase, key);
            QCOMPARE(seen.text, QString("请输入N值或条纹数!"));
        }
    }

    // A running simulator is offered in the port list, opens by its entry,
    // takes a burn to the end, and leaves the list when it ends.
    void simulatorFromThePortList()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        Ui::MainWindow *ui = w.form();
        QComboBox *box = ui->comboBox_SerialPort;

        SimulatorProcess sim;
        QVERIFY(sim.start({"--name", "bench-projector"}, 5000, true));
        const QString link = simulatorports::directory() + "/bench-projector";
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
        // One discovery period is 2 s; the bound allows for a loaded machine.
        QTRY_VERIFY_WITH_TIMEOUT(entryIndex(box, "bench-projector") >= 0, 10000);
        // After the system's own ports.
        QCOMPARE(entryIndex(box, "bench-projector"), box->count() - 1);

        box->setCurrentIndex(entryIndex(box, "bench-projector"));
        const QString dir = makeTempDir();
        burnwindow::answerDirectoryDialog(dir);
        ui->pushButton_SerialPort->click();
        QTRY_VERIFY_WITH_TIMEOUT(ui->pushButton_BurnRecord->isEnabled(), 10000);
        QCOMPARE(MainWindowTestAccess(&w).scanRate(), 10000.0f);

        ModalSeen generated;
        answerNextModal(&generated);
        ui->pushButton_Dark->click();
        const QString file = MainWindowTestAccess(&w).patternFilePath();
        QVERIFY(file.startsWith(dir + "/wave_"));
        QCOMPARE(generated.text, file + "文件已生成全暗图案");
        ui->lineEdit_FileDVK->setText(file);
        QVERIFY(MainWindowTestAccess(&w).loadBurnFile());

        ModalSeen done;
        answerNextModal(&done, QString(), 60000);
        ui->pushButton_BurnRecord->click();
        QTRY_VERIFY_WITH_TIMEOUT(done.seen, 60000);
        QCOMPARE(done.text, QString("烧录完成!"));
        QVERIFY(sim.waitForEvents("transfer", 1));
        const QJsonObject transfer = sim.events("transfer").first();
        QCOMPARE(transfer.value("values").toInt(), 1024);
        QVERIFY(transfer.value("committed").toBool());
        QVERIFY(transfer.value("errors").toArray().isEmpty());

        QCOMPARE(sim.stop(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QTRY_VERIFY_WITH_TIMEOUT(entryIndex(box, "bench-projector") < 0, 10000);

        answerNextModal(nullptr, QStringLiteral("确认"));
        w.close();
    }
};

DVK_XCB_TEST_MAIN(TestWindowXcb)
#include "tst_window_xcb.moc"
