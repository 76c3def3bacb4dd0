#include "FileAccess.h"

#include "FileAccessPlatform.h"
#include "QtCompat.h"

namespace
{

constexpr ushort kEscapeBase = 0xDC00;

// UTF-8 with every byte that is not part of a valid sequence kept as the
// lone surrogate U+DC00 + byte. With `unfinished`, a valid start of a
// sequence that the bytes end in is left for the next piece.
QString decodeKeepingBytes(const char *in, int n, int *unfinished)
{
    if (unfinished)
        *unfinished = 0;
    QString out;
    out.reserve(n);
    int i = 0;
    while (i < n) {
        const uchar b = uchar(in[i]);
        if (b < 0x80) {
            out.append(QChar(b));
            ++i;
            continue;
        }
        int follow = 0;
        uchar low = 0x80, high = 0xBF; // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            follow = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            follow = 2;
            if (b == 0xE0)
                low = 0xA0; // no overlong forms
            if (b == 0xED)
                high = 0x9F; // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            follow = 3;
            if (b == 0xF0)
                low = 0x90;
            if (b == 0xF4)
                high = 0x8F; // nothing above U+10FFFF
        }
        bool valid = follow > 0;
        bool incomplete = false;
        uint code = b & (follow == 1 ? 0x1F : follow == 2 ? 0x0F : 0x07);
        for (int j = 1; valid && j <= follow; ++j) {
            if (i + j >= n) {
                incomplete = true;
                break;
            }
            const uchar c = uchar(in[i + j]);
            if (c < (j == 1 ? low : 0x80) || c > (j == 1 ? high : 0xBF))
                valid = false;
            else
                code = (code << 6) | (c & 0x3F);
        }
        if (valid && incomplete && unfinished) {
            *unfinished = n - i;
            break;
        }
        if (!valid || incomplete) {
            out.append(QChar(ushort(kEscapeBase + b)));
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            out.append(QChar(QChar::highSurrogate(code)));
            out.append(QChar(QChar::lowSurrogate(code)));
        } else {
            out.append(QChar(ushort(code)));
        }
        i += follow + 1;
    }
    return out;
}

// The inverse: each kept byte written back as itself. A surrogate that
// stands for no byte and no character becomes '?', counted in *invalid.
QByteArray encodeKeepingBytes(const QChar *in, int n, int *invalid)
{
    QByteArray out;
    out.reserve(n);
    auto bad = [&]() {
        out.append('?');
        if (invalid)
            ++*invalid;
    };
    for (int i = 0; i < n; ++i) {
        const ushort u = in[i].unicode();
        if (u < 0x80) {
            out.append(char(u));
        } else if (QChar::isHighSurrogate(u)) {
            if (i + 1 < n && QChar::isLowSurrogate(in[i + 1].unicode())) {
                const uint code = QChar::surrogateToUcs4(u, in[i + 1].unicode());
                out.append(char(0xF0 | (code >> 18)));
                out.append(char(0x80 | ((code >> 12) & 0x3F)));
                out.append(char(0x80 | ((code >> 6) & 0x3F)));
                out.append(char(0x80 | (code & 0x3F)));
                ++i;
            } else {
                bad();
            }
        } else if (QChar::isLowSurrogate(u)) {
            if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF)
                out.append(char(u - kEscapeBase));
            else
                bad();
        } else if (u < 0x800) {
            out.append(char(0xC0 | (u >> 6)));
            out.append(char(0x80 | (u & 0x3F)));
        } else {
            out.append(char(0xE0 | (u >> 12)));
            out.append(char(0x80 | ((u >> 6) & 0x3F)));
            out.append(char(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

// Whether Qt's own conversion of names keeps every byte (set at start).
bool qtKeepsNameBytes = false;

} // namespace

void installFileNameCodec()
{
    qtKeepsNameBytes = installQtFileNameConverter(decodeKeepingBytes, encodeKeepingBytes);
}

QByteArray fileNameBytes(const QString &name)
{
    return qtKeepsNameBytes ? QFile::encodeName(name)
                            : encodeKeepingBytes(name.constData(), name.size(), nullptr);
}

QString fileNameFromBytes(const QByteArray &bytes)
{
    return qtKeepsNameBytes ? QFile::decodeName(bytes)
                            : decodeKeepingBytes(bytes.constData(), bytes.size(), nullptr);
}

QStringList fileNameArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << fileNameFromBytes(QByteArray(argv[i]));
    return args;
}

QString notRegularFileText()
{
    return QStringLiteral("not a regular file");
}

bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error,
                     bool *notRegular)
{
    if (notRegular)
        *notRegular = false;
    if (path.isEmpty()) {
        *error = QStringLiteral("no file name given");
        return false;
    }
    const RegularOpen outcome = openRegularOnPlatform(file, path, mode, error);
    if (outcome == RegularOpen::NotRegular) {
        if (notRegular)
            *notRegular = true;
        *error = notRegularFileText();
    }
    return outcome == RegularOpen::Opened;
}
