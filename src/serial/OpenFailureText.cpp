#include "serial/OpenFailureText.h"

#include <QCoreApplication>
#include <QStringList>

namespace sp = serialplatform;

namespace
{

// The window's texts live in its translation context.
QString zh(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString str(const std::string &s)
{
    return QString::fromStdString(s);
}

QString modeText(unsigned mode)
{
    return QString("%1").arg(mode, 4, 8, QChar('0'));
}

QString holderList(const sp::OpenFailure &f, const QString &separator)
{
    QStringList names;
    for (const std::string &h : f.holders)
        names << str(h);
    return names.join(separator);
}

// Which of the permission cases applies; the advice differs for each.
enum class Denial {
    GroupBitsMissing, // the group may not open it: joining it would not help
    RootOnly,         // group root: nobody should join it for this
    NotInGroup,       // the usual case: join the group
    NotYetInSession,  // joined, but this login predates it
    Unexplained       // in the group, bits allow it: an ACL or the like
};

Denial denial(const sp::OpenFailure &f)
{
    if ((f.mode & 0060) != 0060)
        return Denial::GroupBitsMissing;
    if (f.groupId == 0)
        return Denial::RootOnly;
    if (f.inGroup)
        return Denial::Unexplained;
    return f.groupMember ? Denial::NotYetInSession : Denial::NotInGroup;
}

} // namespace

QString openFailureReasonChinese(const sp::OpenFailure &f)
{
    const QString path = str(f.path);
    switch (f.error) {
    case sp::OpenError::None:
        return QString();
    case sp::OpenError::NoPort:
        return zh("没有选择串口。");
    case sp::OpenError::NoDevice:
        return zh("没有这个设备：%1 不存在或没有连接。请检查 USB 转串口适配器是否插好。").arg(path);
    case sp::OpenError::Busy:
        if (!f.holders.empty())
            return zh("串口被占用：%1 正被另一个程序（%2）使用。请先在那个程序中关闭串口，再重试。")
                .arg(path, holderList(f, zh("，")));
#ifdef _WIN32
        return zh("串口被占用：%1 正被另一个程序使用。请先在那个程序中关闭串口，再重试。")
            .arg(path);
#else
        return zh("串口被占用：%1 正被另一个程序使用。请先在那个程序中关闭串口，再重试。"
                  "刚插上适配器时，ModemManager 可能会占用它几秒钟；本软件附带的 udev "
                  "规则可以让 ModemManager 不去碰它。")
            .arg(path);
#endif
    case sp::OpenError::PermissionDenied: {
        const QString user = str(f.user);
        const QString group = str(f.group);
        switch (denial(f)) {
        case Denial::GroupBitsMissing:
            return zh("权限不足：%1（所有者 “%2”，用户组 “%3”，权限 %4）不允许其用户组打开。"
                      "请安装本软件附带的 udev 规则，或请管理员给该用户组读写权限。")
                .arg(path, str(f.owner), group, modeText(f.mode));
        case Denial::RootOnly:
            return zh("权限不足：%1 只允许 root 打开（所有者 “%2”，用户组 “%3”，权限 %4）。"
                      "请安装本软件附带的 udev 规则，它让当前登录的用户可以使用 USB 转串口适配器。")
                .arg(path, str(f.owner), group, modeText(f.mode));
        case Denial::NotInGroup:
            return zh("权限不足：%1 属于用户组 “%2”，当前用户 “%3” 不在该组中。"
                      "解决方法：在终端运行 sudo usermod -aG %2 %3，然后注销并重新登录；"
                      "或者安装本软件附带的 udev 规则，让当前登录的用户可以使用 USB 转串口适配器。")
                .arg(path, group, user);
        case Denial::NotYetInSession:
            return zh("权限不足：用户 “%1” 已在用户组 “%2” 中（该组可以使用 %3），"
                      "但当前登录会话是在加入该组之前开始的。请注销并重新登录。")
                .arg(user, group, path);
        case Denial::Unexplained:
            break;
        }
        return zh("权限不足：系统拒绝打开 %1（所有者 “%2”，用户组 “%3”，权限 %4），"
                  "虽然用户 “%5” 已在该用户组中。系统信息：%6")
            .arg(path, str(f.owner), group, modeText(f.mode), user, str(f.systemText));
    }
    case sp::OpenError::NotSerial:
        return zh("%1 不是串口设备。").arg(path);
    case sp::OpenError::Other:
        break;
    }
    return zh("打开 %1 时系统报告：%2（错误 %3）。").arg(path, str(f.systemText)).arg(f.systemCode);
}

QString openFailureReason(const sp::OpenFailure &f)
{
    switch (f.error) {
    case sp::OpenError::None:
        return QString();
    case sp::OpenError::NoPort:
        return "no port given";
    case sp::OpenError::NoDevice:
        return "no such device (is the adapter plugged in? 'dvkctl ports' lists the ports the "
               "system offers)";
    case sp::OpenError::Busy:
        if (!f.holders.empty())
            return QString("busy: another program has it open (%1); close it there and try again")
                .arg(holderList(f, ", "));
#ifdef _WIN32
        return "busy: another program has it open; close it there and try again";
#else
        return "busy: another program has it open; close it there and try again (just after an "
               "adapter is plugged in, ModemManager may hold it for a few seconds; the udev rule "
               "that comes with this tool keeps ModemManager away)";
#endif
    case sp::OpenError::PermissionDenied: {
        const QString user = str(f.user);
        const QString group = str(f.group);
        switch (denial(f)) {
        case Denial::GroupBitsMissing:
            return QString("permission denied: the device (owner '%1', group '%2', mode %3) does "
                           "not let its group open it; install the udev rule that comes with this "
                           "tool, or ask the administrator to give the group read and write access")
                .arg(str(f.owner), group, modeText(f.mode));
        case Denial::RootOnly:
            return QString("permission denied: only root may open the device (owner '%1', group "
                           "'%2', mode %3); install the udev rule that comes with this tool, which "
                           "gives the logged-in user access to USB serial adapters")
                .arg(str(f.owner), group, modeText(f.mode));
        case Denial::NotInGroup:
            return QString("permission denied: the device belongs to group '%1' and user '%2' is "
                           "not in it; fix: sudo usermod -aG %1 %2, then log out and back in (or "
                           "install the udev rule that comes with this tool, which gives the "
                           "logged-in user access to USB serial adapters)")
                .arg(group, user);
        case Denial::NotYetInSession:
            return QString("permission denied: user '%1' is in group '%2', which may use the "
                           "device, but this login session began before that; log out and back "
                           "in (or start a shell with: newgrp %2)")
                .arg(user, group);
        case Denial::Unexplained:
            break;
        }
        return QString("permission denied by the system (owner '%1', group '%2', mode %3) "
                       "although user '%4' is in the group: %5")
            .arg(str(f.owner), group, modeText(f.mode), user, str(f.systemText));
    }
    case sp::OpenError::NotSerial:
        return "not a serial port (not a terminal device)";
    case sp::OpenError::Other:
        break;
    }
    return QString("%1 (error %2)").arg(str(f.systemText)).arg(f.systemCode);
}
