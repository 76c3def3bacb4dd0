#include "widgets/SwitchControl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

SwitchControl::SwitchControl(QWidget *parent)
    : QWidget(parent), offColor(Qt::black), onColor(0, 150, 136, 255), thumbColor(Qt::white)
{
    connect(&animationTimer, &QTimer::timeout, this, &SwitchControl::onTimeout);
}

SwitchControl::~SwitchControl() = default;

QSize SwitchControl::minimumSizeHint() const
{
    return QSize(2 * (nominalHeight + margin), nominalHeight + 2 * margin);
}

QSize SwitchControl::sizeHint() const
{
    return minimumSizeHint();
}

void SwitchControl::flip()
{
    checked = !checked;
    emit toggled(checked);
    // Restarting a running timer reverses the thumb from where it is.
    animationTimer.start(10);
}

void SwitchControl::switchclick()
{
    flip();
}

void SwitchControl::onTimeout()
{
    if (checked) {
        thumbX += 1.0;
        if (thumbX >= width() - nominalHeight)
            animationTimer.stop();
    } else {
        thumbX -= 1.0;
        if (thumbX <= nominalHeight / 2)
            animationTimer.stop();
    }
    update();
}

void SwitchControl::mousePressEvent(QMouseEvent *event)
{
    if (!isEnabled())
        return;
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        event->ignore();
}

void SwitchControl::mouseReleaseEvent(QMouseEvent *event)
{
    if (!isEnabled())
        return;
    if (event->type() == QEvent::MouseButtonRelease && event->button() == Qt::LeftButton) {
        event->accept();
        flip();
    } else {
        event->ignore();
    }
}

void SwitchControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setRenderHint(QPainter::Antialiasing);

    const QColor track = checked ? onColor : offColor;
    const QColor thumb = checked ? onColor : thumbColor;
    const qreal trackOpacity = checked ? 0.6 : 0.8;

    QPainterPath path;
    path.addRoundedRect(QRectF(margin, margin, width() - 2 * margin, height() - 2 * margin), radius,
                        radius);
    painter.setBrush(QBrush(track));
    painter.setOpacity(trackOpacity);
    painter.drawPath(path.simplified());

    painter.setBrush(QBrush(thumb));
    painter.setOpacity(1.0);
    const int offset = nominalHeight / 2;
    painter.drawEllipse(QRectF(thumbX - offset, thumbY - offset, height(), height()));
}

void SwitchControl::resizeEvent(QResizeEvent *event)
{
    // A switch that is on keeps its thumb at the on end; otherwise a resize
    // would show an "on" switch with its thumb at the off end.
    thumbX = checked ? double(width() - nominalHeight) : double(nominalHeight / 2);
    thumbY = nominalHeight / 2;
    QWidget::resizeEvent(event);
}
