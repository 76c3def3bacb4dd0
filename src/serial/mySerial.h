#ifndef DVK_MYSERIAL_H
#define DVK_MYSERIAL_H

#include <QObject>
#include <QString>

// Placeholder interface; the serial link work fills it in.
class mySerial : public QObject
{
    Q_OBJECT

public:
    explicit mySerial(QObject *parent = nullptr);
    ~mySerial() override;

    int openPort(bool open, int portNumber);
    bool writeData(const char *data, int length);
    bool readData(char *out, int *count);
    bool isOpen() const;

private:
    bool portOpen = false;
};

#endif
