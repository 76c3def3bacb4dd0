// Gray-code generator, window side.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"
#include "patterns/SamplingCoverage.h"

void MainWindow::on_pushButton_NGrayCode_clicked()
{
    const float scanValue = deviceScanRate.load();
    const QString text = ui->lineEdit_NGrayCode->text();
    if (text.isEmpty()) {
        MessageBoxes::warning(this, tr("请输入格雷码数!"));
        return;
    }
    const int bits = text.toInt(nullptr, 10);
    // The limit comes before the range: 999 is refused as too many patterns.
    if (patternLimitExceeded(patternValueCount, bits)) {
        MessageBoxes::warning(this, tr("烧录数据数量 > 61440"));
        return;
    }
    if (bits < kMinGrayBits || bits > kMaxGrayBits) {
        MessageBoxes::information(this, tr("格雷码数范围：1~10"));
        return;
    }
    if (!scanValueValid(scanValue)) {
        MessageBoxes::warning(this, invalidScanValueText(scanValue));
        return;
    }

    const ScanTiming timing = computeScanTiming(scanValue);
    const PatternRun run = grayCodePatterns(timing, bits);
    appendPatternRun(patternLines(run),
                     QStringLiteral("文件已生成") + ui->lineEdit_NGrayCode->text() +
                         QStringLiteral("位格雷码"),
                     false, samplingWarningText(grayCodeCoverage(timing, bits), false));
}
