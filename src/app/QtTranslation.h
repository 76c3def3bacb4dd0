#ifndef DVK_QTTRANSLATION_H
#define DVK_QTTRANSLATION_H

class QCoreApplication;

// Installs Qt's own Simplified Chinese texts (file dialogs, standard buttons)
// from Qt's translations directory (or translations/ beside the program), so
// that they match the window's Chinese. The window's own texts have no entry
// there and stay as written. Returns false when the translation is not
// installed; Qt's English texts then stay.
bool installQtChinese(QCoreApplication *app);

#endif
