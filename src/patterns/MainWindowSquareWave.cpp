// Square-wave generator, window side.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"
#include "patterns/SamplingCoverage.h"

void MainWindow::on_pushButton_NStripeWave_clicked()
{
    const float scanValue = deviceScanRate.load();
    const QString text = ui->lineEdit_NStripeWave->text();
    if (text.isEmpty()) {
        MessageBoxes::warning(this, tr("请输入条纹数!"));
        return;
    }
    if (patternLimitExceeded(patternValueCount, 4)) {
        MessageBoxes::warning(this, tr("烧录数据数量 > 61440"));
        return;
    }
    const int stripes = text.toInt(nullptr, 10);
    if (stripes < kMinStripes || stripes > kMaxStripes) {
        MessageBoxes::information(this, tr("条纹数范围：1~128"));
        return;
    }
    if (!scanValueValid(scanValue)) {
        MessageBoxes::warning(this, invalidScanValueText(scanValue));
        return;
    }

    const ScanTiming timing = computeScanTiming(scanValue);
    const PatternRun run = squareWavePatterns(timing, stripes);
    appendPatternRun(patternLines(run),
                     QStringLiteral("文件已生成") + ui->lineEdit_NStripeWave->text() +
                         QStringLiteral("条方波"),
                     false, samplingWarningText(squareWaveCoverage(timing, stripes), true));
}
