// The window's burn file side: choosing and scanning a file, the page label
// and field, Previous and Next, the warnings, and what the two preview
// labels show.
#include "burnfile/BurnFile.h"
#include "burnfile/PreviewRender.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace
{

// Answers every modal that shows up: a file dialog picks `file` (or is
// cancelled when it is empty), a message box is recorded and confirmed.
class Answerer : public QObject
{
public:
    QString file;
    QList<ModalSeen> boxes;
    QString dialogTitle;
    QString dialogDirectory;
    QStringList dialogFilters;
    int dialogs = 0;

    Answerer() { timerId = startTimer(10); }
    ~Answerer() override { killTimer(timerId); }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const ModalSeen &s : boxes)
            texts << s.text;
        return texts;
    }

protected:
    void timerEvent(QTimerEvent *) override
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            ++dialogs;
            dialogTitle = dialog->windowTitle();
            dialogDirectory = dialog->directory().absolutePath();
            dialogFilters = dialog->nameFilters();
            if (file.isEmpty()) {
                dialog->reject();
            } else {
                // selectFile leaves the name field alone while it has the
                // focus, so the path is typed into it as a user would.
                dialog->findChild<QLineEdit *>("fileNameEdit")->setText(file);
                static_cast<QDialog *>(dialog)->accept(); // QDialog's is public
            }
            return;
        }
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            ModalSeen s;
            s.seen = true;
            s.title = box->windowTitle();
            s.text = box->text();
            s.informativeText = box->informativeText();
            for (QAbstractButton *b : box->buttons())
                s.buttons << b->text();
            boxes << s;
            if (!pressButton(box, "确认"))
                box->reject();
        }
    }

private:
    int timerId = 0;
};

// Page k (0-based) of the test files: a ramp whose offset names the page.
QStringList pagedLines(int pages, int extra = 0)
{
    QStringList lines;
    for (int p = 0; p < pages; ++p)
        for (int i = 0; i < 1024; ++i)
            lines << "0x" + QString::number((i / 4 + p * 37) % 256, 16);
    for (int i = 0; i < extra; ++i)
        lines << "0x" + QString::number((i * 3) % 256, 16);
    return lines;
}

QImage labelImage(QLabel *label)
{
    const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
    if (pixmap.isNull())
        return QImage();
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

class Fixture
{
public:
    MainWindow w;
    MainWindowTestAccess a{&w};
    Ui::MainWindow *ui = w.form();
    Answerer answerer;

    Fixture()
    {
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            qWarning("window not exposed");
        w.lockUi(false);
    }

    // Presses the file button and picks `path` in the dialog.
    void choose(const QString &path)
    {
        answerer.file = path;
        QTest::mouseClick(ui->pushButton_FileDVK, Qt::LeftButton);
    }

    // Whether the labels show page p of `path`, drawn at the canvas sizes
    // with the window's current range.
    bool shows(const QString &path, int pageIndex)
    {
        const QVector<int> values = readBurnPage(path, pageIndex).values;
        const WaveRange range{a.burnSampleMin(), a.burnSampleMax()};
        return labelImage(ui->label_Wave) == renderWave(values, a.waveCanvasSize(), range) &&
               labelImage(ui->label_Picture) == renderPicture(values, a.pictureCanvasSize());
    }

    bool previewsEmpty() const
    {
        return labelImage(ui->label_Wave).isNull() && labelImage(ui->label_Picture).isNull();
    }
};

} // namespace

class TestBurnFileWindow : public QObject
{
    Q_OBJECT

private:
    QString dir;
    QString file(const QString &name, const QStringList &lines)
    {
        return writeLines(dir + "/" + name, lines);
    }

private slots:
    void initTestCase() { dir = makeTempDir(); }

    void beforeAnyLoad()
    {
        Fixture f;
        QCOMPARE(f.ui->label_Page->text(), QString("/ 0 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QVERIFY(!f.ui->pushButton_Previous->isEnabled());
        QVERIFY(!f.ui->pushButton_Next->isEnabled());
        // Typing puts "0" back and draws nothing; the buttons do nothing.
        f.ui->lineEdit->setFocus();
        QTest::keyClicks(f.ui->lineEdit, "3");
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        f.w.on_pushButton_Next_clicked();
        f.w.on_pushButton_Previous_clicked();
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QCOMPARE(f.a.currentPage(), 1);
        QVERIFY(f.previewsEmpty());
        // A cancelled dialog changes nothing.
        f.a.patternDirectory() = dir;
        f.choose(QString());
        QCOMPARE(f.answerer.dialogs, 1);
        QVERIFY(f.ui->lineEdit_FileDVK->text().isEmpty());
        QCOMPARE(f.ui->label_Page->text(), QString("/ 0 "));
        QVERIFY(f.answerer.boxes.isEmpty());
    }

    void loadFivePatterns()
    {
        const QString path = file("five.txt", pagedLines(5));
        Fixture f;
        f.a.patternDirectory() = dir;
        f.ui->label_Message->setText("烧录失败"); // left by a burn of another file
        f.choose(path);
        QCOMPARE(f.ui->label_Message->text(), QString("等待烧录"));
        QCOMPARE(f.answerer.dialogTitle, QString("打开"));
        QCOMPARE(f.answerer.dialogDirectory, QDir(dir).absolutePath());
        QCOMPARE(f.answerer.dialogFilters, QStringList{"Text File (*.txt)"});
        QVERIFY(f.answerer.boxes.isEmpty());

        QCOMPARE(f.ui->lineEdit_FileDVK->text(), path);
        QCOMPARE(f.a.burnSampleCount(), 5120);
        QCOMPARE(f.a.burnSampleMin(), 0);
        QCOMPARE(f.a.burnSampleMax(), 255);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 5 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("1"));
        QCOMPARE(f.a.currentPage(), 1);
        QVERIFY(f.ui->pushButton_Previous->isEnabled());
        QVERIFY(f.ui->pushButton_Next->isEnabled());

        // Page 1 at the canvas sizes captured at the first resize, scaled
        // by the labels.
        QVERIFY(f.a.waveCanvasSize().width() >= 1100);
        QVERIFY(f.a.pictureCanvasSize().height() >= 140);
        QVERIFY(f.shows(path, 0));
        QCOMPARE(f.ui->label_Wave->pixmap(Qt::ReturnByValue).size(), f.a.waveCanvasSize());
        QCOMPARE(f.ui->label_Picture->pixmap(Qt::ReturnByValue).size(), f.a.pictureCanvasSize());
        QVERIFY(f.ui->label_Wave->hasScaledContents());
        QVERIFY(f.ui->label_Picture->hasScaledContents());

        // A bigger window draws the page shown again at the new size, and
        // the next page too.
        f.w.resize(f.w.width() + 200, f.w.height() + 100);
        QCoreApplication::processEvents();
        QCOMPARE(f.a.waveCanvasSize(), f.ui->label_Wave->size());
        QCOMPARE(f.a.pictureCanvasSize(), f.ui->label_Picture->size());
        QVERIFY(f.shows(path, 0));
        f.ui->lineEdit->setText("2");
        QVERIFY(f.shows(path, 1));
        QCOMPARE(f.ui->label_Wave->pixmap(Qt::ReturnByValue).size(), f.ui->label_Wave->size());
    }

    void pageFieldAndButtons()
    {
        const QString path = file("paging.txt", pagedLines(5));
        Fixture f;
        f.choose(path);
        QLineEdit *field = f.ui->lineEdit;

        // Typed 9 on a 5-page file: clamped to 5, page 5 shown.
        field->selectAll();
        QTest::keyClicks(field, "9");
        QCOMPARE(field->text(), QString("5"));
        QCOMPARE(f.a.currentPage(), 5);
        QVERIFY(f.shows(path, 4));

        // Next from the last page wraps to page 1.
        QTest::mouseClick(f.ui->pushButton_Next, Qt::LeftButton);
        QCOMPARE(field->text(), QString("1"));
        QCOMPARE(f.a.currentPage(), 1);
        QVERIFY(f.shows(path, 0));

        // Previous from page 1 wraps to the last page.
        QTest::mouseClick(f.ui->pushButton_Previous, Qt::LeftButton);
        QCOMPARE(field->text(), QString("5"));
        QCOMPARE(f.a.currentPage(), 5);
        QVERIFY(f.shows(path, 4));
        QTest::mouseClick(f.ui->pushButton_Previous, Qt::LeftButton);
        QCOMPARE(field->text(), QString("4"));
        QVERIFY(f.shows(path, 3));
        QTest::mouseClick(f.ui->pushButton_Next, Qt::LeftButton);
        QCOMPARE(field->text(), QString("5"));

        // Cleared: back to 1. A single 0: also 1.
        field->clear();
        QCOMPARE(field->text(), QString("1"));
        QCOMPARE(f.a.currentPage(), 1);
        QVERIFY(f.shows(path, 0));
        field->setText("3");
        QCOMPARE(f.a.currentPage(), 3);
        field->setText("0");
        QCOMPARE(field->text(), QString("1"));
        QCOMPARE(f.a.currentPage(), 1);

        // Pasted 05: page 5, "5" left in the field.
        field->selectAll();
        field->insert("05");
        QCOMPARE(field->text(), QString("5"));
        QCOMPARE(f.a.currentPage(), 5);
        QVERIFY(f.shows(path, 4));
        QCOMPARE(f.ui->label_Page->text(), QString("/ 5 "));
        QVERIFY(f.answerer.boxes.isEmpty());
    }

    void limitsAndShortFiles()
    {
        Fixture f;
        const QString full = file("full.txt", pagedLines(60));
        f.choose(full);
        QCOMPARE(f.a.burnSampleCount(), 61440);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 60 "));
        f.ui->lineEdit->setText("60");
        QVERIFY(f.shows(full, 59));

        // One line over: refused, count 0, "/ 0 ", field "0", previews
        // cleared; the scan's range stays.
        QStringList over = pagedLines(60, 1);
        over[0] = "0x7";
        over[1] = "0x1FF";
        f.choose(file("over.txt", over));
        QCOMPARE(f.answerer.boxTexts(), QStringList{"烧录数据数量 > 61440"});
        QCOMPARE(f.answerer.boxes.first().title, QString("错误"));
        QCOMPARE(f.answerer.boxes.first().buttons, QStringList{"确认"});
        QCOMPARE(f.a.burnSampleCount(), 0);
        QCOMPARE(f.a.burnSampleMax(), 0x1FF);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 0 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QVERIFY(f.previewsEmpty());
        // No page to go to: Previous and Next are off; typing gives "0".
        QVERIFY(!f.ui->pushButton_Next->isEnabled());
        QVERIFY(!f.ui->pushButton_Previous->isEnabled());
        f.ui->lineEdit->setText("3");
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QVERIFY(f.previewsEmpty());

        // 500 lines: loads, "/ 0 ", field "0", the 500 values drawn.
        f.answerer.boxes.clear();
        const QString shortFile = file("short.txt", pagedLines(0, 500));
        f.choose(shortFile);
        QVERIFY(f.answerer.boxes.isEmpty());
        QCOMPARE(f.a.burnSampleCount(), 500);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 0 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QVERIFY(f.shows(shortFile, 0));
        QVERIFY(!f.previewsEmpty());
        QVERIFY(!f.ui->pushButton_Next->isEnabled());

        // 1500 lines: one page; Next and Previous leave "1" and redraw nothing.
        const QString oneAndAHalf = file("1500.txt", pagedLines(1, 476));
        f.choose(oneAndAHalf);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 1 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("1"));
        QVERIFY(f.ui->pushButton_Next->isEnabled() && f.ui->pushButton_Previous->isEnabled());
        const qint64 key = f.ui->label_Wave->pixmap(Qt::ReturnByValue).cacheKey();
        QTest::mouseClick(f.ui->pushButton_Next, Qt::LeftButton);
        QTest::mouseClick(f.ui->pushButton_Previous, Qt::LeftButton);
        QCOMPARE(f.ui->lineEdit->text(), QString("1"));
        QCOMPARE(f.ui->label_Wave->pixmap(Qt::ReturnByValue).cacheKey(), key);

        // Empty file: count 0, "/ 0 ", and the old file's page is gone.
        f.choose(file("empty.txt", {}));
        QCOMPARE(f.a.burnSampleCount(), 0);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 0 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QVERIFY(f.previewsEmpty());
        QVERIFY(!f.ui->pushButton_Next->isEnabled());
        QVERIFY(f.answerer.boxes.isEmpty());

        // Far larger than any pattern file (sparse, so nothing is written):
        // said at load with the burn check's words, nothing left to page.
        f.choose(oneAndAHalf);
        const QString huge = dir + "/huge.txt";
        QFile big(huge);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(20) << 30));
        big.close();
        f.choose(huge);
        QCOMPARE(
            f.answerer.boxTexts(),
            QStringList{QString("烧录文件过大:%1 字节,最多 15851520 字节").arg(qint64(20) << 30)});
        QCOMPARE(f.a.burnSampleCount(), 0);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 0 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("0"));
        QVERIFY(f.previewsEmpty());
        QVERIFY(!f.ui->pushButton_Next->isEnabled() && !f.ui->pushButton_Previous->isEnabled());
        QFile::remove(huge);
    }

    void fileThatFailsToOpen()
    {
        const QString path = file("good.txt", pagedLines(5));
        Fixture f;
        f.choose(path);
        f.ui->lineEdit->setText("2");
        const qint64 wave = f.ui->label_Wave->pixmap(Qt::ReturnByValue).cacheKey();
        const qint64 picture = f.ui->label_Picture->pixmap(Qt::ReturnByValue).cacheKey();

        // The load of a file that does not open keeps the old page count,
        // range, field and previews; the new path stays in the field.
        const QString missing = dir + "/missing.txt";
        f.ui->lineEdit_FileDVK->setText(missing);
        QVERIFY(!f.a.loadBurnFile());
        QCOMPARE(f.answerer.boxTexts(), QStringList{"无法打开文件!"});
        // Which file, and why, on the line below.
        QVERIFY(f.answerer.boxes.first().informativeText.startsWith(missing + "："));
        QVERIFY(f.answerer.boxes.first().informativeText.size() > missing.size() + 1);
        QCOMPARE(f.ui->lineEdit_FileDVK->text(), missing);
        QCOMPARE(f.a.burnSampleCount(), 5120);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 5 "));
        QCOMPARE(f.ui->lineEdit->text(), QString("2"));
        QCOMPARE(f.ui->label_Wave->pixmap(Qt::ReturnByValue).cacheKey(), wave);

        // Paging while the file is gone: one warning per drawing, previews
        // kept, field, label and page still follow.
        f.answerer.boxes.clear();
        f.ui->lineEdit->setText("4");
        QCOMPARE(f.answerer.boxTexts(), (QStringList{"无法打开文件!", "无法打开文件!"}));
        QCOMPARE(f.ui->lineEdit->text(), QString("4"));
        QCOMPARE(f.a.currentPage(), 4);
        QCOMPARE(f.ui->label_Page->text(), QString("/ 5 "));
        QCOMPARE(f.ui->label_Wave->pixmap(Qt::ReturnByValue).cacheKey(), wave);
        QCOMPARE(f.ui->label_Picture->pixmap(Qt::ReturnByValue).cacheKey(), picture);
    }

    void flatFileScalesToFullRange()
    {
        QStringList light;
        for (int i = 0; i < 2048; ++i)
            light << "0xFF";
        const QString path = file("light.txt", light);
        Fixture f;
        f.choose(path);
        // min = max = 255 became 0 … 255 and was written back.
        QCOMPARE(f.a.burnSampleMin(), 0);
        QCOMPARE(f.a.burnSampleMax(), 255);
        const QImage wave = labelImage(f.ui->label_Wave);
        const QImage picture = labelImage(f.ui->label_Picture);
        const int w = f.a.waveCanvasSize().width();
        QCOMPARE(wave.pixel(w / 2, 0), qRgba(255, 0, 0, 255));
        QCOMPARE(qAlpha(wave.pixel(w / 2, 2)), 0);
        QCOMPARE(picture.pixel(w / 2, picture.height() / 2), qRgba(255, 0, 0, 255));

        // A page of a file typed by hand is drawn with the loaded range.
        QStringList dark;
        for (int i = 0; i < 1024; ++i)
            dark << "0x0";
        f.ui->lineEdit_FileDVK->setText(file("typed.txt", dark));
        f.a.drawWave(0);
        f.a.drawPicture(0);
        const QImage typed = labelImage(f.ui->label_Wave);
        QCOMPARE(typed.pixel(w / 2, typed.height() - 1), qRgba(255, 0, 0, 255));
        QCOMPARE(labelImage(f.ui->label_Picture).pixel(w / 2, 5), qRgba(0, 0, 0, 255));
        QCOMPARE(f.a.burnSampleCount(), 2048);
    }
};

QTEST_MAIN(TestBurnFileWindow)
#include "tst_burnfile_window.moc"
