// Pattern file: where generated patterns go and how a run is appended.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "MessageBoxes.h"
#include "patterns/PatternFile.h"
#include "patterns/ScanTiming.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>

void MainWindow::choosePatternFile()
{
    patternDirectory = QFileDialog::getExistingDirectory(this, tr("请选择烧录文件保存路径"), ". / ",
                                                         QFileDialog::ShowDirsOnly);
    // The time is read once the user has closed the dialog.
    const QDateTime now = QDateTime::currentDateTime();
    const QString directory =
        patternDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : patternDirectory;
    patternFilePath = patternFilePathFor(directory, now);
}

void MainWindow::appendPatternRun(const QByteArray &lines, const QString &completion,
                                  bool standardBoxes)
{
    auto warn = [&](const QString &text, const QString &informative) {
        if (standardBoxes)
            MessageBoxes::warningOk(this, text, informative);
        else
            MessageBoxes::warning(this, text, informative);
    };

    PatternFileWriter writer(patternFilePath);
    if (!writer.open()) {
        warn(tr("无法打开文件!"), QString());
        return;
    }
    const bool written = writer.append(lines);
    patternValueCount += writer.linesAppended();
    if (!written) {
        // Never report a run as generated when the file does not hold it.
        warn(tr("无法写入文件!"), patternFilePath + "\n" + writer.errorString());
        writer.close();
        return;
    }
    const QString text = patternFilePath + completion;
    if (standardBoxes)
        MessageBoxes::informationOk(this, text);
    else
        MessageBoxes::information(this, text);
    writer.close();
}

QString MainWindow::invalidScanValueText(float scanValue) const
{
    return tr("设备扫描值无效：%1（有效范围：%2~%3）")
        .arg(double(scanValue))
        .arg(kMinScanValue)
        .arg(kMaxScanValue);
}
