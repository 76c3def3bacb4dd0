// Why the port did not open, in the window's words: the informative text
// under "串口打开失败!". It names the device, since the box does not.
#include "app/mainwindow.h"

#include "serial/OpenFailureText.h"

namespace sp = serialplatform;

QString MainWindow::openFailureText(const sp::OpenFailure &f)
{
    const QString path = QString::fromStdString(f.path);
    const QString user = QString::fromStdString(f.user);
    const QString owner = QString::fromStdString(f.owner);
    const QString group = QString::fromStdString(f.group);
    switch (openFailureCase(f)) {
    case OpenFailureCase::None:
        return QString();
    case OpenFailureCase::NoPort:
        return tr("没有选择串口。");
    case OpenFailureCase::NoDevice:
        return tr("没有这个设备：%1 不存在或没有连接。请检查 USB 转串口适配器是否插好。").arg(path);
    case OpenFailureCase::BusyNamed:
        return tr("串口被占用：%1 正被另一个程序（%2）使用。请先在那个程序中关闭串口，再重试。")
            .arg(path, holderList(f, tr("，")));
    case OpenFailureCase::Busy:
#ifdef _WIN32
        return tr("串口被占用：%1 正被另一个程序使用。请先在那个程序中关闭串口，再重试。")
            .arg(path);
#else
        return tr("串口被占用：%1 正被另一个程序使用。请先在那个程序中关闭串口，再重试。"
                  "刚插上适配器时，ModemManager 可能会占用它几秒钟；本软件附带的 udev "
                  "规则可以让 ModemManager 不去碰它。")
            .arg(path);
#endif
    case OpenFailureCase::GroupBitsMissing:
        return tr("权限不足：%1（所有者 “%2”，用户组 “%3”，权限 %4）不允许其用户组打开。"
                  "请安装本软件附带的 udev 规则，或请管理员给该用户组读写权限。")
            .arg(path, owner, group, fileModeText(f.mode));
    case OpenFailureCase::RootOnly:
        return tr("权限不足：%1 只允许 root 打开（所有者 “%2”，用户组 “%3”，权限 %4）。"
                  "请安装本软件附带的 udev 规则，它让当前登录的用户可以使用 USB 转串口适配器。")
            .arg(path, owner, group, fileModeText(f.mode));
    case OpenFailureCase::NotInGroup:
        return tr("权限不足：%1 属于用户组 “%2”，当前用户 “%3” 不在该组中。"
                  "解决方法：在终端运行 sudo usermod -aG %2 %3，然后注销并重新登录；"
                  "或者安装本软件附带的 udev 规则，让当前登录的用户可以使用 USB 转串口适配器。")
            .arg(path, group, user);
    case OpenFailureCase::NotYetInSession:
        return tr("权限不足：用户 “%1” 已在用户组 “%2” 中（该组可以使用 %3），"
                  "但当前登录会话是在加入该组之前开始的。请注销并重新登录。")
            .arg(user, group, path);
    case OpenFailureCase::Unexplained:
        return tr("权限不足：系统拒绝打开 %1（所有者 “%2”，用户组 “%3”，权限 %4），"
                  "虽然用户 “%5” 已在该用户组中。系统信息：%6")
            .arg(path, owner, group, fileModeText(f.mode), user,
                 QString::fromStdString(f.systemText));
    case OpenFailureCase::NotSerial:
        return tr("%1 不是串口设备。").arg(path);
    case OpenFailureCase::SimulatorEnded:
        return tr("模拟器已经结束：%1 不再可用，它的伪终端现在可能属于别的程序，所以不打开。")
            .arg(path);
    case OpenFailureCase::Other:
        break;
    }
    return tr("打开 %1 时系统报告：%2（错误 %3）。")
        .arg(path, QString::fromStdString(f.systemText))
        .arg(f.systemCode);
}
