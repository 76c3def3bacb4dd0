#include "widgets/ReturnPressesButton.h"

#include <QKeyEvent>
#include <QPushButton>

namespace
{

class ReturnFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        // A held key presses once: every press of a generator appends a run.
        if (!key->isAutoRepeat()) {
            auto *button = static_cast<QPushButton *>(watched);
            if (button->isEnabled())
                button->click();
        }
        return true;
    }
};

} // namespace

void pressOnReturn(QPushButton *button)
{
    button->installEventFilter(new ReturnFilter(button));
}
