#ifndef DVK_SWITCHCONTROL_H
#define DVK_SWITCHCONTROL_H

#include <QColor>
#include <QTimer>
#include <QWidget>

// A small animated toggle that shows whether the serial port is open.
class SwitchControl : public QWidget
{
    Q_OBJECT

public:
    explicit SwitchControl(QWidget *parent = nullptr);
    ~SwitchControl() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    bool isChecked() const { return checked; }
    double thumbPosition() const { return thumbX; }
    bool isAnimating() const { return animationTimer.isActive(); }

signals:
    void toggled(bool checked);

public slots:
    void onTimeout();
    void switchclick();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void flip();

    bool checked = false;
    QColor offColor;
    QColor onColor;
    QColor thumbColor;
    double radius = 8.0;
    double thumbX = 0.0;
    double thumbY = 0.0;
    qint16 nominalHeight = 16;
    qint16 margin = 3;
    QTimer animationTimer;
};

#endif
