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

// Tabs line the columns up: a message box expands them.
const char kHelpEn[] =
    "Setup.exe installs or upgrades the Vemlo client. Help was asked for: nothing was installed.\n\n"
    "Switches (a slash or a dash, any letter case):\n"
    "/S, /quiet\tunattended: no window; the exit code tells the outcome\n"
    "/?, /h, /help\tthis help\n"
    "Every argument is also handed to the installer as it is.\n\n"
    "Exit codes:\n"
    "0\tinstalled; or the installer's own code (3010: restart needed, 1641: restart started)\n"
    "112\tless than 50M free on C:\n"
    "740\tnot an administrator\n"
    "1602\tthe password dialog was cancelled\n"
    "1603\tthe instance event could not be made\n"
    "1618\tanother setup or the customisation updater is running: try again later\n"
    "1625\tthe uninstall password was wrong three times, or cannot be asked\n"
    "150-167, 351-356\tthe package or the unpacking failed (see c:\\VemloLog)";

const char kHelpZh[] =
    "Setup.exe 用于安装或升级Vemlo智能客户端。这里只显示帮助，没有安装任何内容。\n\n"
    "参数（以 / 或 - 开头，不区分大小写）：\n"
    "/S, /quiet\t静默安装：不显示窗口，以退出码表示结果\n"
    "/?, /h, /help\t显示本帮助\n"
    "所有参数也会原样传给安装程序。\n\n"
    "退出码：\n"
    "0\t安装完成；或安装程序自己的退出码（3010：需要重启，1641：已开始重启）\n"
    "112\tC盘可用空间不足50M\n"
    "740\t没有管理员权限\n"
    "1602\t密码对话框被取消\n"
    "1603\t无法创建实例事件\n"
    "1618\t有其他安装程序或定制信息升级正在运行，请稍后再试\n"
    "1625\t卸载密码三次输入错误，或无法询问密码\n"
    "150-167, 351-356\t安装包损坏或解压失败（详见 c:\\VemloLog）";

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
