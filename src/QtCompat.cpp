#include "QtCompat.h"

#include <QLibraryInfo>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

QString qtTranslationsPath()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

#if defined(Q_OS_WIN)

// Names there are UTF-16, which Qt passes on whole.
bool installQtFileNameConverter(FileNameDecoder, FileNameEncoder)
{
    return true;
}

#elif QT_VERSION < QT_VERSION_CHECK(6, 0, 0)

namespace
{

// The converter as Qt 5's locale codec. A text stream feeds a codec piece by
// piece: a sequence cut at the end of one piece (at most three bytes, or a
// high surrogate) waits in the state for the next.
class FileNameCodec : public QTextCodec
{
public:
    FileNameCodec(FileNameDecoder decode, FileNameEncoder encode) : decode(decode), encode(encode)
    {
    }
    QByteArray name() const override { return QByteArrayLiteral("UTF-8 (bytes kept)"); }
    // A number no registered codec uses.
    int mibEnum() const override { return 0x44564B08; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        QByteArray bytes;
        if (state && state->remainingChars > 0) {
            for (int k = 0; k < state->remainingChars; ++k)
                bytes.append(char((state->state_data[0] >> (8 * k)) & 0xFF));
            state->remainingChars = 0;
            state->state_data[0] = 0;
        }
        bytes.append(in, length);
        int unfinished = 0;
        const QString out = decode(bytes.constData(), bytes.size(), state ? &unfinished : nullptr);
        for (int k = 0; k < unfinished; ++k)
            state->state_data[0] |= uint(uchar(bytes[bytes.size() - unfinished + k])) << (8 * k);
        if (state)
            state->remainingChars = unfinished;
        return out;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        QString text;
        if (state && state->remainingChars > 0) {
            text.append(QChar(ushort(state->state_data[0])));
            state->remainingChars = 0;
            state->state_data[0] = 0;
        }
        text.append(in, length);
        if (state && !text.isEmpty() && text.at(text.size() - 1).isHighSurrogate()) {
            state->state_data[0] = text.at(text.size() - 1).unicode();
            state->remainingChars = 1;
            text.chop(1);
        }
        int invalid = 0;
        const QByteArray out = encode(text.constData(), text.size(), &invalid);
        if (state)
            state->invalidChars += invalid;
        return out;
    }

private:
    FileNameDecoder decode;
    FileNameEncoder encode;
};

} // namespace

bool installQtFileNameConverter(FileNameDecoder decode, FileNameEncoder encode)
{
    static QTextCodec *installed = nullptr;
    if (installed)
        return true;
    const QTextCodec *locale = QTextCodec::codecForLocale();
    if (!locale || locale->mibEnum() != 106) // other locales' codecs keep every byte
        return true;
    installed = new FileNameCodec(decode, encode); // owned by Qt's codec list
    QTextCodec::setCodecForLocale(installed);
    return true;
}

#else

bool installQtFileNameConverter(FileNameDecoder, FileNameEncoder)
{
    return false;
}

#endif
