// N-step phase-shift generator, window side.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/MessageBoxes.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"

void MainWindow::on_pushButton_NStepPhase_clicked()
{
    const float scanValue = deviceScanRate.load();
    if (ui->lineEdit_NStepPhase->text().isEmpty() || ui->lineEdit_StripeNum->text().isEmpty()) {
        MessageBoxes::warningOk(this, tr("请输入N值或条纹数!"));
        return;
    }
    const int steps = ui->lineEdit_NStepPhase->text().toInt(nullptr, 10);
    const int stripes = ui->lineEdit_StripeNum->text().toInt(nullptr, 10);
    if (steps < kMinPhaseSteps || steps > kMaxPhaseSteps) {
        MessageBoxes::informationOk(this, tr("N值范围：3~8"));
        return;
    }
    if (stripes < kMinStripes || stripes > kMaxStripes) {
        MessageBoxes::informationOk(this, tr("条纹数范围：1~128"));
        return;
    }
    // Phase-shift sets count towards the file's 60 patterns like every other
    // run; otherwise the burn side rejects a file that was reported fine.
    if (patternLimitExceeded(patternValueCount, steps)) {
        MessageBoxes::warningOk(this, tr("烧录数据数量 > 61440"));
        return;
    }
    if (!scanValueValid(scanValue)) {
        MessageBoxes::warningOk(this, invalidScanValueText(scanValue));
        return;
    }

    const PatternRun run = phaseShiftPatterns(computeScanTiming(scanValue), steps, stripes);
    appendPatternRun(patternLines(run),
                     QStringLiteral("文件已生成") + ui->lineEdit_NStepPhase->text() +
                         QStringLiteral("步相移,") + ui->lineEdit_StripeNum->text() +
                         QStringLiteral("条纹"),
                     true);
}
