// The stub's message boxes in English and Chinese. This file is compiled with the execution
// character set CP936, so the Chinese literals below are GBK bytes in the program.
#include <windows.h>

#include "setup/setup.h"

namespace {

const char kPreviousInstanceEn[] = "A previous instance is still running. \nPlease try it later.";

const char* const kEnglish[] = {
    kPreviousInstanceEn,
    "You do not have administrative privileges on this computer, the program can not be installed!",
    "The disk C must have at least 50M free space to finish the setup.",
    kPreviousInstanceEn,
};

const char* const kChinese[] = {
    "有正在运行的客户端安装程序，请稍候再试。",
    "您没有管理员权限，无法进行安装操作！",
    "C盘空间不足，安装要求C盘必须有50M以上的空间。",
    "客户端正在升级定制信息，请稍后再试。",
};

// Short lines, so that the box does not wrap them; a tab lines the exit codes up (a message box
// expands it).
const char kHelpEn[] =
    "Setup.exe installs or upgrades the Vemlo client.\n"
    "Help was asked for: nothing was installed.\n\n"
    "Switches (with / or -, in any letter case):\n"
    "/S, /quiet: unattended, no window; see the exit code.\n"
    "/?, /h, /help: this help.\n"
    "/pwdfile=FILE: the uninstall password, the first line\n"
    "\tof a file only administrators may change.\n"
    "/password=TEXT: the uninstall password itself\n"
    "\t(anybody who sees the command line reads it).\n"
    "Every other argument also goes to the installer as it is.\n\n"
    "Exit codes:\n"
    "0\tinstalled (or the installer's own code:\n"
    "\t3010 restart needed, 1641 restart started)\n"
    "112\tless than 50M free on C:\n"
    "740\tnot an administrator\n"
    "1602\tthe password dialog was cancelled\n"
    "1603\tthe instance event could not be made\n"
    "1618\tanother setup or the updater runs: try later\n"
    "1625\ta wrong password, or none can be asked\n"
    "1639\tthe given password is wrong or cannot be used\n"
    "150-169: the package is damaged or not this setup's own\n"
    "351-356: unpacking or starting failed\n"
    "Each run is logged in c:\\VemloLog.";

const char kHelpZh[] =
    "Setup.exe 安装或升级Vemlo智能客户端。\n"
    "这里只显示帮助，没有安装任何内容。\n\n"
    "参数（以 / 或 - 开头，不区分大小写）：\n"
    "/S, /quiet：静默安装，不显示窗口，见退出码。\n"
    "/?, /h, /help：显示本帮助。\n"
    "/pwdfile=文件：卸载密码，取自只有管理员\n"
    "\t可修改的文件的第一行。\n"
    "/password=密码：直接给出卸载密码\n"
    "\t（能看到命令行的人都能读到它）。\n"
    "其他参数原样传给安装程序。\n\n"
    "退出码：\n"
    "0\t安装完成（或安装程序自己的退出码：\n"
    "\t3010 需要重启，1641 已开始重启）\n"
    "112\tC盘可用空间不足50M\n"
    "740\t没有管理员权限\n"
    "1602\t密码对话框被取消\n"
    "1603\t无法创建实例事件\n"
    "1618\t另一安装程序或定制升级正在运行\n"
    "1625\t卸载密码错误，或无法询问密码\n"
    "1639\t给出的卸载密码错误或无法使用\n"
    "150-169：安装包已损坏或不属于本安装程序\n"
    "351-356：解压或启动失败\n"
    "每次运行都记录在 c:\\VemloLog。";

}  // namespace

const char* SetupCaption(bool chinese) { return chinese ? "安装Vemlo智能客户端" : "Vemlo Setup"; }

const char* SetupMessageText(SetupMessage which, bool chinese)
{
    return (chinese ? kChinese : kEnglish)[which];
}

const char* SetupHelpText(bool chinese) { return chinese ? kHelpZh : kHelpEn; }

const char* SetupProgressText(bool chinese)
{
    // The ellipsis is 0x85 in the Western code pages; a literal one would become its GBK bytes,
    // as this file is compiled for code page 936.
    return chinese ? "正在准备安装…" : "Preparing the installation\x85";
}
