// Texts of the password dialog in English and Chinese. Compiled with the execution character
// set CP936, so the Chinese literals are GBK bytes in the program.
#include "guard/guard.h"

namespace {

const char* const kEnglish[] = {
    "Uninstall Password",
    "The client is protected by a password. Please input the password to proceed with the client upgrade.",
    "OK",
    "Cancel",
    "Wrong password. Please try again:",
    "Wrong Password",
    "You have input wrong passwords for the maximum number of times. The installation wizard is about to abort...",
};

const char* const kChinese[] = {
    "卸载密码",
    "已安装的客户端受密码保护，需要输入卸载密码才能进行升级。请输入密码：",
    "确定",
    "取消",
    "密码错误，请重新输入：",
    "密码错误",
    "超过最大密码错误重试次数，安装程序即将退出。",
};

}  // namespace

const char* PwdDialogText(PwdText which, bool chinese) { return (chinese ? kChinese : kEnglish)[which]; }
