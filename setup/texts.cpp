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

}  // namespace

const char* SetupCaption(bool chinese) { return chinese ? "安装Vemlo智能客户端" : "Vemlo Setup"; }

const char* SetupMessageText(SetupMessage which, bool chinese)
{
    return (chinese ? kChinese : kEnglish)[which];
}
