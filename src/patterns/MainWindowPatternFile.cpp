// Pattern file: where generated patterns go and how a run is appended.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "patterns/PatternFile.h"
#include "patterns/SamplingCoverage.h"
#include "patterns/ScanTiming.h"
#include "patterns/WriteFailureText.h"
#include "widgets/FileDialogs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

void MainWindow::choosePatternFile()
{
    patternDirectory = filedialogs::existingDirectory(this, tr("请选择烧录文件保存路径"),
                                                      patternDialogStart(lastChosenDirectory),
                                                      QFileDialog::ShowDirsOnly);
    if (!patternDirectory.isEmpty())
        lastChosenDirectory = patternDirectory;
    // The time is read once the user has closed the dialog.
    const QDateTime now = QDateTime::currentDateTime();
    const QString directory =
        patternDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : patternDirectory;
    patternFilePath = patternFilePathFor(directory, now);
}

void MainWindow::appendPatternRun(const QByteArray &lines, const QString &completion,
                                  bool standardBoxes, const QString &completionNote)
{
    auto warn = [&](const QString &text, const QString &informative) {
        if (standardBoxes)
            MessageBoxes::warningOk(this, text, informative);
        else
            MessageBoxes::warning(this, text, informative);
    };

    // A file this run makes and then cannot fill goes again, as with the
    // command line's generate: no empty pattern file is left behind.
    const QFileInfo before(patternFilePath);
    const bool existed = before.exists() || before.isSymLink();
    PatternFileWriter writer(patternFilePath);
    if (!writer.open()) {
        warn(tr("无法打开文件!"), MessageBoxes::fileDetail(patternFilePath, writer.errorString()));
        return;
    }
    const qint64 sizeBefore = QFileInfo(patternFilePath).size();
    const bool written = writer.append(lines);
    patternValueCount += writer.linesAppended();
    if (!written) {
        if (existed)
            writer.close();
        else
            writer.discardIfEmpty();
        // Never report a run as generated when the file does not hold it, and
        // say whether the file is as it was: the writer cuts a partial run off
        // again where the system lets it.
        const QFileInfo after(patternFilePath);
        const bool asBefore =
            existed ? after.exists() && after.size() == sizeBefore : !after.exists();
        const bool unchanged = writer.linesAppended() == 0 && asBefore;
        const QString state = unchanged ? tr("本次生成的数据没有写入，文件保持原样。")
                                        : tr("本次生成的数据没有完整写入，文件末尾可能留有"
                                             "不完整的数据。");
        const QString reason = writeFailureReasonChinese(writer.systemError(), tr("写入未完成"));
        warn(tr("无法写入文件!"), patternFilePath + "\n" + state + "\n" + tr("原因：") + reason);
        return;
    }
    const QString text = patternFilePath + completion;
    if (standardBoxes)
        MessageBoxes::informationOk(this, text, completionNote);
    else
        MessageBoxes::information(this, text, completionNote);
    writer.close();
}

QString MainWindow::invalidScanValueText(float scanValue) const
{
    return tr("设备扫描值无效：%1（有效范围：%2~%3）")
        .arg(double(scanValue))
        .arg(kMinScanValue)
        .arg(kMaxScanValue);
}

QString MainWindow::samplingWarningText(const SamplingCoverage &coverage, bool segments) const
{
    if (coverage.underSampled() == 0)
        return QString();
    // Near the centre of the window the beam is fastest: there the finest
    // stripes can fall between two samples.
    QString text = segments ? tr("警告：%1 个四分之一周期段中有 %2 个少于两个采样点")
                            : tr("警告：%1 条条纹中有 %2 条少于两个采样点");
    text = text.arg(coverage.stripes).arg(coverage.underSampled());
    if (coverage.empty > 0)
        text += (segments ? tr("，其中 %1 个没有采样点") : tr("，其中 %1 条没有采样点"))
                    .arg(coverage.empty);
    return text + tr("。窗口中心附近光束最快，最细的条纹在那里无法完整显示。");
}
