// The main window as the user first meets it: the widget tree, its texts and
// states, the field validators, locking, the close guard and the canvas sizes.
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"
#include "widgets/SwitchControl.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree();
    void textsAndStates();
    void stylesAndSizes();
    void validators();
    void lockUi();
    void closeGuard();
    void canvasSizesCaptured();
};

namespace
{

struct Node {
    const char *name;
    const char *className;
    const char *parent;
};

// Every widget of the form with its class and Qt parent.
const Node kTree[] = {
    {"centralwidget", "QWidget", "MainWindow"},
    {"groupBox_5", "QGroupBox", "centralwidget"},
    {"comboBox_SerialPort", "QComboBox", "groupBox_5"},
    {"Switch", "SwitchControl", "groupBox_5"},
    {"pushButton_SerialPort", "QPushButton", "groupBox_5"},
    {"groupBox_6", "QGroupBox", "centralwidget"},
    {"lineEdit_FileDVK", "QLineEdit", "groupBox_6"},
    {"pushButton_FileDVK", "QPushButton", "groupBox_6"},
    {"groupBox", "QGroupBox", "centralwidget"},
    {"label_2", "QLabel", "groupBox"},
    {"lineEdit_NStepPhase", "QLineEdit", "groupBox"},
    {"pushButton_NStepPhase", "QPushButton", "groupBox"},
    {"label_3", "QLabel", "groupBox"},
    {"lineEdit_StripeNum", "QLineEdit", "groupBox"},
    {"groupBox_2", "QGroupBox", "centralwidget"},
    {"label_5", "QLabel", "groupBox_2"},
    {"lineEdit_NGrayCode", "QLineEdit", "groupBox_2"},
    {"pushButton_NGrayCode", "QPushButton", "groupBox_2"},
    {"groupBox_3", "QGroupBox", "centralwidget"},
    {"label_6", "QLabel", "groupBox_3"},
    {"lineEdit_NStripeWave", "QLineEdit", "groupBox_3"},
    {"pushButton_NStripeWave", "QPushButton", "groupBox_3"},
    {"groupBox_4", "QGroupBox", "centralwidget"},
    {"label_9", "QLabel", "groupBox_4"},
    {"pushButton_Dark", "QPushButton", "groupBox_4"},
    {"label_10", "QLabel", "groupBox_4"},
    {"pushButton_Light", "QPushButton", "groupBox_4"},
    {"label_11", "QLabel", "centralwidget"},
    {"line_14", "QFrame", "centralwidget"},
    {"label_Wave", "QLabel", "centralwidget"},
    {"label_13", "QLabel", "centralwidget"},
    {"line_23", "QFrame", "centralwidget"},
    {"label_Picture", "QLabel", "centralwidget"},
    {"pushButton_BurnRecord", "QPushButton", "centralwidget"},
    {"line_19", "QFrame", "centralwidget"},
    {"pushButton_Previous", "QPushButton", "centralwidget"},
    {"lineEdit", "QLineEdit", "centralwidget"},
    {"label_Page", "QLabel", "centralwidget"},
    {"pushButton_Next", "QPushButton", "centralwidget"},
    {"label_18", "QLabel", "centralwidget"},
    {"progressBar_BurnRecord", "QProgressBar", "centralwidget"},
    {"label_Message", "QLabel", "centralwidget"},
};

// Layouts with the widget or layout that holds them.
const Node kLayouts[] = {
    {"verticalLayout_2", "QVBoxLayout", "centralwidget"},
    {"horizontalLayout_5", "QHBoxLayout", "verticalLayout_2"},
    {"verticalLayout_5", "QVBoxLayout", "horizontalLayout_5"},
    {"verticalLayout_7", "QVBoxLayout", "groupBox_5"},
    {"horizontalLayout_2", "QHBoxLayout", "verticalLayout_7"},
    {"verticalLayout_12", "QVBoxLayout", "groupBox_6"},
    {"horizontalLayout_4", "QHBoxLayout", "verticalLayout_12"},
    {"verticalLayout_8", "QVBoxLayout", "groupBox"},
    {"verticalLayout_3", "QVBoxLayout", "verticalLayout_8"},
    {"gridLayout", "QGridLayout", "verticalLayout_3"},
    {"verticalLayout_4", "QVBoxLayout", "horizontalLayout_5"},
    {"verticalLayout_9", "QVBoxLayout", "groupBox_2"},
    {"gridLayout_2", "QGridLayout", "verticalLayout_9"},
    {"verticalLayout_10", "QVBoxLayout", "groupBox_3"},
    {"gridLayout_3", "QGridLayout", "verticalLayout_10"},
    {"verticalLayout_11", "QVBoxLayout", "groupBox_4"},
    {"horizontalLayout_13", "QHBoxLayout", "verticalLayout_11"},
    {"horizontalLayout_12", "QHBoxLayout", "verticalLayout_11"},
    {"verticalLayout", "QVBoxLayout", "verticalLayout_2"},
    {"horizontalLayout", "QHBoxLayout", "verticalLayout_2"},
};

const char *const kWorkingControls[] = {
    "lineEdit_FileDVK",       "pushButton_FileDVK", "lineEdit_NStepPhase",  "lineEdit_StripeNum",
    "pushButton_NStepPhase",  "lineEdit_NGrayCode", "lineEdit_NStripeWave", "pushButton_NGrayCode",
    "pushButton_NStripeWave", "pushButton_Dark",    "pushButton_Light",     "pushButton_BurnRecord",
};

const char *const kNumericFields[] = {"lineEdit_NStepPhase", "lineEdit_StripeNum",
                                      "lineEdit_NGrayCode", "lineEdit_NStripeWave"};

QWidget *child(MainWindow &w, const char *name)
{
    return w.findChild<QWidget *>(QString::fromLatin1(name));
}

QString text(MainWindow &w, const char *name)
{
    QWidget *c = child(w, name);
    if (auto *l = qobject_cast<QLabel *>(c))
        return l->text();
    if (auto *b = qobject_cast<QPushButton *>(c))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(c))
        return e->text();
    if (auto *g = qobject_cast<QGroupBox *>(c))
        return g->title();
    return QStringLiteral("<no text>");
}

// Accepts closes without asking, so that the window can be destroyed quietly.
void closeQuietly(MainWindow &w)
{
    ModalSeen seen;
    answerNextModal(&seen, QStringLiteral("确认"));
    w.close();
}

} // namespace

void TestMainWindow::widgetTree()
{
    MainWindow w;
    QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
    for (const Node &n : kTree) {
        QWidget *c = child(w, n.name);
        QVERIFY2(c, n.name);
        QCOMPARE(QString(c->metaObject()->className()), QString(n.className));
        QVERIFY2(c->parent() && c->parent()->objectName() == n.parent, n.name);
    }
    for (const Node &n : kLayouts) {
        QLayout *l = w.findChild<QLayout *>(QString::fromLatin1(n.name));
        QVERIFY2(l, n.name);
        QCOMPARE(QString(l->metaObject()->className()), QString(n.className));
        QObject *holder = l->parentWidget() && l->parentWidget()->layout() == l
                              ? static_cast<QObject *>(l->parentWidget())
                              : l->parent();
        QVERIFY2(holder && holder->objectName() == n.parent, n.name);
    }
    QCOMPARE(w.centralWidget(), child(w, "centralwidget"));
    QVERIFY(!w.menuWidget());

    // Stretch factors of the box layouts.
    auto *outer = w.findChild<QBoxLayout *>("verticalLayout_2");
    QCOMPARE(outer->stretch(0), 0);
    QCOMPARE(outer->stretch(1), 1);
    for (int i = 2; i < 6; ++i)
        QCOMPARE(outer->stretch(i), 0);
    auto *top = w.findChild<QBoxLayout *>("horizontalLayout_5");
    QCOMPARE(top->stretch(0), 3);
    QCOMPARE(top->stretch(1), 0);
    QCOMPARE(top->stretch(2), 2);
    QCOMPARE(top->stretch(3), 0);
    auto *port = w.findChild<QBoxLayout *>("horizontalLayout_2");
    QCOMPARE(port->stretch(0), 2);
    QCOMPARE(port->stretch(1), 1);
    QCOMPARE(port->stretch(2), 1);
    auto *preview = w.findChild<QBoxLayout *>("verticalLayout");
    QCOMPARE(preview->stretch(2), 1);
    QCOMPARE(preview->stretch(5), 1);
    QCOMPARE(preview->stretch(0) + preview->stretch(1) + preview->stretch(3) + preview->stretch(4),
             0);

    // The bottom bar in order: button, spacer, line, previous, field, label, next, spacer.
    auto *bar = w.findChild<QBoxLayout *>("horizontalLayout");
    QCOMPARE(bar->count(), 8);
    QCOMPARE(bar->itemAt(0)->widget()->objectName(), QStringLiteral("pushButton_BurnRecord"));
    QVERIFY(bar->itemAt(1)->spacerItem());
    QCOMPARE(bar->itemAt(2)->widget()->objectName(), QStringLiteral("line_19"));
    QCOMPARE(bar->itemAt(6)->widget()->objectName(), QStringLiteral("pushButton_Next"));
    QVERIFY(bar->itemAt(7)->spacerItem());

    // Slots reach their buttons by name: a click on the page field's
    // neighbours must be wired even before their bodies do anything.
    QVERIFY(w.metaObject()->indexOfSlot("on_pushButton_BurnRecord_clicked()") >= 0);
    closeQuietly(w);
}

void TestMainWindow::textsAndStates()
{
    MainWindow w;
    const struct {
        const char *name;
        const char *text;
    } texts[] = {
        {"groupBox_5", "串口列表:"},
        {"pushButton_SerialPort", "打开串口"},
        {"groupBox_6", "文件路径:"},
        {"pushButton_FileDVK", "..."},
        {"groupBox", "N步正弦相移图案数据生成"},
        {"label_2", "N步相移"},
        {"pushButton_NStepPhase", "生成"},
        {"label_3", "条纹数量"},
        {"groupBox_2", "格雷码图案数据生成"},
        {"label_5", "N位格雷码"},
        {"pushButton_NGrayCode", "生成"},
        {"groupBox_3", "方波四步相移图案数据生成"},
        {"label_6", "N条纹方波"},
        {"pushButton_NStripeWave", "生成"},
        {"groupBox_4", "固定图案数据生成"},
        {"label_9", "全暗图案"},
        {"pushButton_Dark", "生成"},
        {"label_10", "全亮图案"},
        {"pushButton_Light", "生成"},
        {"label_11", "数据波形"},
        {"label_Wave", ""},
        {"label_13", "图案预览"},
        {"label_Picture", ""},
        {"pushButton_BurnRecord", "开始烧录"},
        {"pushButton_Previous", "上一页"},
        {"lineEdit", "0"},
        {"label_Page", "/ 0 "},
        {"pushButton_Next", "下一页"},
        {"label_18", "进度:"},
        {"label_Message", "等待烧录"},
    };
    for (const auto &t : texts)
        QCOMPARE(text(w, t.name), QString::fromUtf8(t.text));
    QCOMPARE(w.windowTitle(), QStringLiteral("MainWindow"));

    const char *const disabled[] = {
        "Switch",
        "lineEdit_FileDVK",
        "pushButton_FileDVK",
        "lineEdit_NStepPhase",
        "pushButton_NStepPhase",
        "lineEdit_StripeNum",
        "lineEdit_NGrayCode",
        "pushButton_NGrayCode",
        "lineEdit_NStripeWave",
        "pushButton_NStripeWave",
        "pushButton_Dark",
        "pushButton_Light",
        "pushButton_BurnRecord",
        "pushButton_Previous",
        "pushButton_Next",
    };
    for (const Node &n : kTree) {
        bool shouldBeDisabled = false;
        for (const char *d : disabled)
            shouldBeDisabled |= qstrcmp(d, n.name) == 0;
        QVERIFY2(child(w, n.name)->isEnabled() != shouldBeDisabled, n.name);
    }
    auto *bar = w.findChild<QProgressBar *>("progressBar_BurnRecord");
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(bar->textDirection(), QProgressBar::TopToBottom);
    closeQuietly(w);
}

void TestMainWindow::stylesAndSizes()
{
    MainWindow w;
    QCOMPARE(w.size(), QSize(1286, 691));
    // At least the form's 1000 x 600, more when the content needs it.
    QVERIFY(w.minimumWidth() >= 1000 && w.minimumHeight() >= 600);
    QCOMPARE(w.minimumSize(), w.minimumSize().expandedTo(w.minimumSizeHint()));
    const QString groupStyle = QString::fromUtf8(
        "QGroupBox {\nborder: 1px solid rgb(136, 136, 136);\nfont: 12pt \"黑体\";\n}");
    for (const char *g : {"groupBox_6", "groupBox", "groupBox_2", "groupBox_3", "groupBox_4"}) {
        auto *box = w.findChild<QGroupBox *>(g);
        QCOMPARE(box->styleSheet(), groupStyle);
        QCOMPARE(box->alignment(), int(Qt::AlignCenter));
        QCOMPARE(box->font().family(), QString::fromUtf8("黑体"));
        QCOMPARE(box->font().pointSize(), 12);
    }
    QCOMPARE(w.findChild<QGroupBox *>("groupBox_5")->styleSheet(),
             QString::fromUtf8(
                 "QGroupBox {\nborder: 1px solid rgb(136, 136, 136);font: 12pt \"黑体\";\n}"));
    QVERIFY(w.findChild<QLineEdit *>("lineEdit_FileDVK")
                ->styleSheet()
                .contains("padding:3px 18px 3px 4px;"));
    for (const char *f : kNumericFields)
        QVERIFY(w.findChild<QLineEdit *>(f)->styleSheet().contains("padding:3px 3px 3px 4px;"));
    for (const char *c : {"label_Wave", "label_Picture"}) {
        QCOMPARE(child(w, c)->minimumSize(), QSize(1100, 140));
        QCOMPARE(child(w, c)->styleSheet(),
                 QStringLiteral("border-radius:10px;\nbackground-color: rgb(255, 255, 255);"));
    }
    auto *page = w.findChild<QLineEdit *>("lineEdit");
    QCOMPARE(page->minimumWidth(), 25);
    QCOMPARE(page->maximumWidth(), 25);
    QCOMPARE(page->font().pointSize(), 11);
    QCOMPARE(page->alignment(), Qt::AlignCenter);
    auto *label = w.findChild<QLabel *>("label_Page");
    QCOMPARE(label->minimumWidth(), 40);
    QCOMPARE(label->maximumWidth(), 40);
    QCOMPARE(label->styleSheet(), QStringLiteral("font-size: 15px"));
    QCOMPARE(child(w, "Switch")->maximumSize(), QSize(50, 50));
    QCOMPARE(child(w, "line_14")->minimumWidth(), 1130);

    // Shown and enlarged, the page field and label keep their widths and the
    // two canvases share the extra height.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(1600, 1000);
    QTest::qWait(50);
    QCOMPARE(page->width(), 25);
    QCOMPARE(label->width(), 40);
    QVERIFY(qAbs(child(w, "label_Wave")->height() - child(w, "label_Picture")->height()) <= 1);
    w.resize(800, 400);
    QTest::qWait(50);
    QVERIFY(w.width() >= 1000 && w.height() >= 600);
    closeQuietly(w);
}

void TestMainWindow::validators()
{
    MainWindow w;
    for (const char *f : kNumericFields) {
        auto *e = w.findChild<QLineEdit *>(f);
        e->setEnabled(true);
        const QValidator *v = e->validator();
        QVERIFY2(v, f);
        int pos = 0;
        QString s = "1";
        QCOMPARE(v->validate(s, pos), QValidator::Acceptable);
        s = "999";
        QCOMPARE(v->validate(s, pos), QValidator::Acceptable);
        s = "1000";
        QCOMPARE(v->validate(s, pos), QValidator::Invalid);
        s = "-1";
        QVERIFY(v->validate(s, pos) != QValidator::Acceptable);
        s = "x";
        QCOMPARE(v->validate(s, pos), QValidator::Invalid);
        // Typing goes through the validator too.
        e->clear();
        QTest::keyClicks(e, "12a34");
        QCOMPARE(e->text(), QStringLiteral("123"));
    }
    auto *page = w.findChild<QLineEdit *>("lineEdit");
    int pos = 0;
    QString s = "0";
    QCOMPARE(page->validator()->validate(s, pos), QValidator::Acceptable);
    s = "60";
    QCOMPARE(page->validator()->validate(s, pos), QValidator::Acceptable);
    s = "61";
    QVERIFY(page->validator()->validate(s, pos) != QValidator::Acceptable);
    closeQuietly(w);
}

void TestMainWindow::lockUi()
{
    MainWindow w;
    w.lockUi(false);
    for (const char *c : kWorkingControls)
        QVERIFY2(child(w, c)->isEnabled(), c);
    for (const char *f : kNumericFields)
        w.findChild<QLineEdit *>(f)->setText("7");
    w.findChild<QLineEdit *>("lineEdit_FileDVK")->setText("/tmp/x.txt");

    w.lockUi(true);
    for (const char *c : kWorkingControls)
        QVERIFY2(!child(w, c)->isEnabled(), c);
    for (const char *f : kNumericFields)
        QVERIFY2(w.findChild<QLineEdit *>(f)->text().isEmpty(), f);
    // The path field is not one of the four numeric fields.
    QCOMPARE(w.findChild<QLineEdit *>("lineEdit_FileDVK")->text(), QStringLiteral("/tmp/x.txt"));
    // Controls outside the twelve are left alone.
    QVERIFY(child(w, "pushButton_SerialPort")->isEnabled());
    QVERIFY(child(w, "comboBox_SerialPort")->isEnabled());
    QVERIFY(!child(w, "Switch")->isEnabled());

    for (const char *f : kNumericFields)
        w.findChild<QLineEdit *>(f)->setText("5");
    w.lockUi(false);
    for (const char *c : kWorkingControls)
        QVERIFY2(child(w, c)->isEnabled(), c);
    for (const char *f : kNumericFields)
        QCOMPARE(w.findChild<QLineEdit *>(f)->text(), QStringLiteral("5"));
    closeQuietly(w);
}

void TestMainWindow::closeGuard()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // "取消" keeps the window and its state.
    w.lockUi(false);
    w.findChild<QLineEdit *>("lineEdit_NGrayCode")->setText("4");
    ModalSeen seen;
    answerNextModal(&seen, QStringLiteral("取消"));
    QVERIFY(!w.close());
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("退出"));
    QCOMPARE(seen.text, QStringLiteral("是否退出?"));
    QCOMPARE(seen.buttons.size(), 2);
    QVERIFY(seen.buttons.contains(QStringLiteral("确认")));
    QVERIFY(seen.buttons.contains(QStringLiteral("取消")));
    QCOMPARE(seen.defaultButton, QStringLiteral("确认"));
    QVERIFY(w.isVisible());
    QCOMPARE(w.findChild<QLineEdit *>("lineEdit_NGrayCode")->text(), QStringLiteral("4"));

    // During the commit countdown the question warns about the burn.
    MainWindowTestAccess(&w).solidifyInProgress() = 1;
    answerNextModal(&seen, QStringLiteral("取消"));
    QVERIFY(!w.close());
    QCOMPARE(seen.text, QStringLiteral("正在烧录,是否退出?"));
    MainWindowTestAccess(&w).solidifyInProgress() = 0;

    // Escape and the box's own close answer "取消".
    answerNextModal(&seen, QString(), 10000,
                    [](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); });
    QVERIFY(!w.close());
    QVERIFY(seen.seen);
    answerNextModal(&seen, QString(), 10000, [](QWidget *box) { box->close(); });
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());

    // Enter chooses "确认".
    answerNextModal(&seen, QString(), 10000,
                    [](QWidget *box) { QTest::keyClick(box, Qt::Key_Return); });
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
}

void TestMainWindow::canvasSizesCaptured()
{
    MainWindow w;
    MainWindowTestAccess access(&w);
    QVERIFY(!access.canvasSizesCaptured());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(access.canvasSizesCaptured());
    const QSize wave = access.waveCanvasSize();
    const QSize picture = access.pictureCanvasSize();
    QVERIFY(wave.width() >= 1100 && wave.height() >= 140);
    QVERIFY(picture.width() >= 1100 && picture.height() >= 140);
    // Later sizes are taken as the canvases change.
    w.resize(1700, 1100);
    QTest::qWait(50);
    QVERIFY(w.findChild<QLabel *>("label_Wave")->width() > wave.width());
    QCOMPARE(access.waveCanvasSize(), w.findChild<QLabel *>("label_Wave")->size());
    QCOMPARE(access.pictureCanvasSize(), w.findChild<QLabel *>("label_Picture")->size());
    closeQuietly(w);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
