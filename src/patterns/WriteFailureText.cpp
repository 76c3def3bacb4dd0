#include "patterns/WriteFailureText.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

namespace
{

QString trWrite(const char *text)
{
    return QCoreApplication::translate("WriteFailure", text);
}

} // namespace

QString writeFailureReasonChinese(int systemError, const QString &fallback)
{
    switch (systemError) {
    case 0:
        return fallback;
    case ENOSPC:
        return trWrite("磁盘空间已满");
#ifdef EDQUOT
    case EDQUOT:
        return trWrite("磁盘配额已用完");
#endif
    case EACCES:
    case EPERM:
        return trWrite("没有写入权限");
    case EROFS:
        return trWrite("文件系统为只读");
    case EIO:
    case ENODEV:
    case ENXIO:
#ifdef ESTALE
    case ESTALE:
#endif
        return trWrite("存储设备已断开或无法访问");
    case EFBIG:
        return trWrite("文件超过系统允许的大小");
    default:
        return QString::fromLocal8Bit(std::strerror(systemError));
    }
}
