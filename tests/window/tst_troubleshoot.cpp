// A port that does not open says why, in the window (Chinese, under
// "串口打开失败!") and in dvkctl (English, on standard error): no such device,
// busy in another program, permission denied with the device's actual group.
//
// The tests run as root, whom file modes do not stop. The permission cases
// are made real in two ways: in this process the effective user and groups
// are switched to nobody around the open (the kernel checks exactly those),
// and dvkctl runs as a child that calls setgroups/setresgid/setresuid before
// it is executed, so the whole tool runs without privileges.
#include "serial/OpenFailureText.h"
#include "serial/mySerial.h"
#include "support/core/ChildSetupProcess.h"
#include "support/core/Pty.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sp = serialplatform;

namespace
{

gid_t groupId(const char *name)
{
    const group *g = ::getgrnam(name);
    return g ? g->gr_gid : gid_t(-1);
}

// Runs the rest of a scope as another user: the effective ids and the group
// list are what the kernel checks an open against.
class EffectiveUser
{
public:
    EffectiveUser(uid_t uid, gid_t gid, std::vector<gid_t> groups)
    {
        saved.resize(std::size_t(::getgroups(0, nullptr)));
        saved.resize(std::size_t(::getgroups(int(saved.size()), saved.data())));
        ok = ::setgroups(groups.size(), groups.data()) == 0 && ::setegid(gid) == 0 &&
             ::seteuid(uid) == 0;
    }
    ~EffectiveUser()
    {
        if (::seteuid(0) != 0 || ::setegid(0) != 0 || ::setgroups(saved.size(), saved.data()) != 0)
            qFatal("cannot return to root");
    }
    bool ok = false;

private:
    std::vector<gid_t> saved;
};

// Runs dvkctl as nobody:nogroup with no supplementary groups.
void becomeNobody()
{
    const gid_t nogroup = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(nogroup, nogroup, nogroup) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
        ::_exit(125);
}

const uid_t kNobody = 65534;
const gid_t kNogroup = 65534;

sp::OpenFailure openAs(const QString &path, uid_t uid, gid_t gid, std::vector<gid_t> groups,
                       int *result)
{
    mySerial port;
    {
        EffectiveUser as(uid, gid, std::move(groups));
        if (!as.ok)
            qFatal("cannot become uid %u", unsigned(uid));
        *result = port.openPort(true, path);
    }
    port.openPort(false, 0);
    return port.lastOpenFailure();
}

} // namespace

class TestTroubleshoot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root: the permission cases switch to the user nobody");
        QVERIFY(groupId("dialout") != gid_t(-1));
        QVERIFY(groupId("uucp") != gid_t(-1));
        QCOMPARE(::getpwnam("nobody")->pw_gid, kNogroup);
    }

    void missingEmptyAndNotSerial()
    {
        mySerial port;
        QCOMPARE(port.openPort(true, QString("/dev/ttyDVKNONE")), -1);
        sp::OpenFailure f = port.lastOpenFailure();
        QCOMPARE(f.error, sp::OpenError::NoDevice);
        QCOMPARE(f.systemCode, ENOENT);
        QCOMPARE(MainWindowTestAccess::openFailureText(f),
                 QString("没有这个设备：/dev/ttyDVKNONE 不存在或没有连接。请检查 USB "
                         "转串口适配器是否插好。"));
        QVERIFY(openFailureReason(f).startsWith("no such device"));

        QCOMPARE(port.openPort(true, QString()), -1);
        QCOMPARE(port.lastOpenFailure().error, sp::OpenError::NoPort);
        QCOMPARE(MainWindowTestAccess::openFailureText(port.lastOpenFailure()),
                 QString("没有选择串口。"));

        QCOMPARE(port.openPort(true, QString("/dev/null")), -1);
        f = port.lastOpenFailure();
        QCOMPARE(f.error, sp::OpenError::NotSerial);
        QCOMPARE(MainWindowTestAccess::openFailureText(f), QString("/dev/null 不是串口设备。"));
        QVERIFY(!port.isOpen());

        // A later success clears the reason.
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        QCOMPARE(port.openPort(true, pty.path), 0);
        QCOMPARE(port.lastOpenFailure().error, sp::OpenError::None);
        QVERIFY(openFailureReason(port.lastOpenFailure()).isEmpty());
    }

    // Busy, named by the program that holds the port: here this test itself,
    // seen from dvkctl in another process too.
    void busyNamesTheHolder()
    {
        Pty pty;
        mySerial holder;
        QCOMPARE(holder.openPort(true, pty.path), 0);
        const QString me = QString("tst_troubleshoot (pid %1)").arg(::getpid());

        mySerial second;
        QCOMPARE(second.openPort(true, pty.path), -1);
        const sp::OpenFailure f = second.lastOpenFailure();
        QCOMPARE(f.error, sp::OpenError::Busy);
        QCOMPARE(
            MainWindowTestAccess::openFailureText(f),
            QString("串口被占用：%1 正被另一个程序（%2）使用。请先在那个程序中关闭串口，再重试。")
                .arg(pty.path, me));

        // Through a link, as /dev/serial/by-id gives them, the holder is found
        // all the same.
        const QString link = makeTempDir() + "/usb-adapter-port0";
        QVERIFY(QFile::link(pty.path, link));
        QCOMPARE(second.openPort(true, link), -1);
        QCOMPARE(second.lastOpenFailure().holders, std::vector<std::string>{me.toStdString()});

        QByteArray out, err;
        QCOMPARE(runDvkctl({"query", "--port", pty.path}, &out, &err), 1);
        QCOMPARE(QString::fromUtf8(err),
                 QString("dvkctl query: cannot open %1: busy: another program has it open (%2); "
                         "close it there and try again\n")
                     .arg(pty.path, me));

        holder.openPort(false, 0);
        QCOMPARE(second.openPort(true, pty.path), 0);
    }

    void permissionCases_data()
    {
        QTest::addColumn<QString>("deviceGroup");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("processGroup"); // egid; supplementary groups empty
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");

        QTest::newRow("not in dialout")
            << "dialout" << 0660 << "nogroup"
            << "权限不足：%1 属于用户组 “dialout”，当前用户 “nobody” "
               "不在该组中。解决方法：在终端运行 "
               "sudo usermod -aG dialout nobody，然后注销并重新登录；或者安装本软件附带的 udev "
               "规则，让当前登录的用户可以使用 USB 转串口适配器。"
            << "permission denied: the device belongs to group 'dialout' and user 'nobody' is not "
               "in it; fix: sudo usermod -aG dialout nobody, then log out and back in (or install "
               "the udev rule that comes with this tool, which gives the logged-in user access to "
               "USB serial adapters)";
        // The advice names the device's own group, whatever it is.
        QTest::newRow("not in uucp")
            << "uucp" << 0660 << "nogroup"
            << "权限不足：%1 属于用户组 “uucp”，当前用户 “nobody” 不在该组中。解决方法：在终端运行 "
               "sudo usermod -aG uucp nobody，然后注销并重新登录；或者安装本软件附带的 udev "
               "规则，让当前登录的用户可以使用 USB 转串口适配器。"
            << "permission denied: the device belongs to group 'uucp' and user 'nobody' is not "
               "in it; fix: sudo usermod -aG uucp nobody, then log out and back in (or install "
               "the udev rule that comes with this tool, which gives the logged-in user access to "
               "USB serial adapters)";
        // nobody's account has nogroup, but this process runs without it: a
        // login that predates joining the group.
        QTest::newRow("joined after login")
            << "nogroup" << 0660 << "dialout"
            << "权限不足：用户 “nobody” 已在用户组 “nogroup” 中（该组可以使用 "
               "%1），但当前登录会话是在加入该组之前开始的。请注销并重新登录。"
            << "permission denied: user 'nobody' is in group 'nogroup', which may use the device, "
               "but this login session began before that; log out and back in (or start a shell "
               "with: newgrp nogroup)";
        // Joining the group would not help when the group may not open it.
        QTest::newRow("group without access")
            << "dialout" << 0600 << "dialout"
            << "权限不足：%1（所有者 “root”，用户组 “dialout”，权限 "
               "0600）不允许其用户组打开。请安装本软件附带的 udev "
               "规则，或请管理员给该用户组读写权限。"
            << "permission denied: the device (owner 'root', group 'dialout', mode 0600) does not "
               "let its group open it; install the udev rule that comes with this tool, or ask the "
               "administrator to give the group read and write access";
        // Nobody should join group root to reach a port.
        QTest::newRow("root's group")
            << "root" << 0660 << "nogroup"
            << "权限不足：%1 只允许 root 打开（所有者 “root”，用户组 “root”，权限 "
               "0660）。请安装本软件附带的 udev 规则，它让当前登录的用户可以使用 USB 转串口适配器。"
            << "permission denied: only root may open the device (owner 'root', group 'root', "
               "mode 0660); install the udev rule that comes with this tool, which gives the "
               "logged-in user access to USB serial adapters";
    }
    void permissionCases()
    {
        QFETCH(QString, deviceGroup);
        QFETCH(int, mode);
        QFETCH(QString, processGroup);
        QFETCH(QString, chinese);
        QFETCH(QString, english);

        Pty pty;
        QVERIFY(pty.setOwnership(groupId(deviceGroup.toLatin1().constData()), mode_t(mode)));
        int result = 0;
        const sp::OpenFailure f =
            openAs(pty.path, kNobody, groupId(processGroup.toLatin1().constData()), {}, &result);
        QCOMPARE(result, -1);
        QCOMPARE(f.error, sp::OpenError::PermissionDenied);
        QCOMPARE(f.systemCode, EACCES);
        QCOMPARE(f.group, deviceGroup.toStdString());
        QCOMPARE(MainWindowTestAccess::openFailureText(f), chinese.arg(pty.path));
        QCOMPARE(openFailureReason(f), english);
    }

    // The control: with the group in its list, the same user opens the same
    // device, so what failed above was the permission and nothing else.
    void memberOpens()
    {
        Pty pty;
        QVERIFY(pty.setOwnership(groupId("dialout"), 0660));
        int result = -1;
        const sp::OpenFailure f =
            openAs(pty.path, kNobody, kNogroup, {groupId("dialout")}, &result);
        QCOMPARE(result, 0);
        QCOMPARE(f.error, sp::OpenError::None);
    }

    // dvkctl run as nobody: query, burn and generate --port all say why.
    void dvkctlAsNobody()
    {
        // The tool and its input where nobody can reach them.
        const QString dir = makeTempDir();
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        const QString tool = dir + "/dvkctl";
        QVERIFY(QFile::copy(DVKCTL_PATH, tool));
        QStringList lines;
        for (int i = 0; i < 1024; ++i)
            lines << "0x80";
        const QString file = writeLines(dir + "/page.txt", lines);
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadOther |
                                                QFileDevice::ReadGroup));

        Pty pty;
        QVERIFY(pty.setOwnership(groupId("dialout"), 0660));
        const QString reason = "permission denied: the device belongs to group 'dialout' and user "
                               "'nobody' is not in it; fix: sudo usermod -aG dialout nobody, then "
                               "log out and back in (or install the udev rule that comes with this "
                               "tool, which gives the logged-in user access to USB serial "
                               "adapters)\n";
        const auto run = [&](const QStringList &args, QByteArray *err) {
            ChildSetupProcess p(becomeNobody);
            p.start(tool, args);
            if (!p.waitForFinished(30000))
                return -2;
            *err = p.readAllStandardError();
            return p.exitCode();
        };

        QByteArray err;
        QCOMPARE(run({"query", "--port", pty.path}, &err), 1);
        QCOMPARE(QString::fromUtf8(err),
                 QString("dvkctl query: cannot open %1: ").arg(pty.path) + reason);

        QCOMPARE(run({"burn", file, "--port", pty.path, "--no-wait"}, &err), 1);
        QCOMPARE(QString::fromUtf8(err),
                 QString("dvkctl burn: cannot open port '%1': ").arg(pty.path) + reason);

        QCOMPARE(run({"generate", "gray", "--bits", "2", "--port", pty.path}, &err), 1);
        QVERIFY2(err.endsWith(QString("cannot open %1: ").arg(pty.path).toUtf8() + reason.toUtf8()),
                 err.constData());

        // Given the group, the same user gets as far as the projector (which
        // does not answer here).
        QVERIFY(pty.setOwnership(kNogroup, 0660));
        QCOMPARE(run({"query", "--port", pty.path}, &err), 1);
        QCOMPARE(QString::fromUtf8(err),
                 QString("dvkctl query: no answer from %1\n").arg(pty.path));
    }

    // The window keeps "串口打开失败!" and puts the reason under it.
    void windowBox()
    {
        MainWindow w;
        Ui::MainWindow *ui = w.form();
        const auto clickOpen = [&](const QString &entry) {
            ui->comboBox_SerialPort->clear();
            if (!entry.isEmpty())
                ui->comboBox_SerialPort->addItem(entry);
            ModalSeen seen;
            answerNextModal(&seen);
            ui->pushButton_SerialPort->click();
            return seen;
        };
        const auto check = [&](const ModalSeen &seen) {
            QVERIFY(seen.seen);
            QCOMPARE(seen.title, QString("错误"));
            QCOMPARE(seen.text, QString("串口打开失败!"));
            QCOMPARE(seen.buttons, QStringList{"确认"});
            QCOMPARE(ui->pushButton_SerialPort->text(), QString("打开串口"));
            QVERIFY(!ui->Switch->isChecked());
            QVERIFY(!mySerialInstance->isOpen());
        };

        ModalSeen seen = clickOpen(QString());
        check(seen);
        QCOMPARE(seen.informativeText, QString("没有选择串口。"));

        // A name from the port list stands for the device under /dev.
        seen = clickOpen("ttyDVKNONE");
        check(seen);
        QCOMPARE(seen.informativeText,
                 QString("没有这个设备：/dev/ttyDVKNONE 不存在或没有连接。请检查 USB "
                         "转串口适配器是否插好。"));

        Pty pty;
        {
            mySerial holder;
            QCOMPARE(holder.openPort(true, pty.path), 0);
            seen = clickOpen(pty.path);
            check(seen);
            QVERIFY2(seen.informativeText.startsWith("串口被占用：" + pty.path),
                     qPrintable(seen.informativeText));
            QVERIFY(seen.informativeText.contains(
                QString("tst_troubleshoot (pid %1)").arg(::getpid())));
        }

        QVERIFY(pty.setOwnership(groupId("dialout"), 0660));
        {
            EffectiveUser as(kNobody, kNogroup, {});
            QVERIFY(as.ok);
            seen = clickOpen(pty.path);
        }
        check(seen);
        QVERIFY2(seen.informativeText.contains("sudo usermod -aG dialout nobody"),
                 qPrintable(seen.informativeText));
    }
};

QTEST_MAIN(TestTroubleshoot)
#include "tst_troubleshoot.moc"
