#ifndef DVK_RETURNPRESSESBUTTON_H
#define DVK_RETURNPRESSESBUTTON_H

#include <QObject>

class QPushButton;

// Return and Enter press a focused push button, as Space does. Outside a
// dialog Qt's buttons take only Space; the auto-default property that would
// add Return also changes how some styles draw and size a button, so the keys
// are caught here instead. The filter is a child of the button.
void pressOnReturn(QPushButton *button);

#endif
