// The password dialog's texts as the user must see them, written out here and not taken from
// the code: English, and the GBK bytes of the Chinese (made with
// python3 -c 'print(TEXT.encode("gbk"))'), in the order of PwdText.
#pragma once
#include "guard/guard.h"

namespace gt {

inline const char* ExpectedPwdText(PwdText which, bool chinese)
{
    static const char* const kEnglish[] = {
        "Uninstall Password",
        "The client is protected by a password. Please input the password to proceed with the client upgrade.",
        "OK",
        "Cancel",
        "Wrong password. Please try again:",
        "Wrong Password",
        "You have input wrong passwords for the maximum number of times. The installation wizard is about to "
        "abort...",
    };
    static const char* const kChinese[] = {
        // caption: 卸载密码
        "\xD0\xB6\xD4\xD8\xC3\xDC\xC2\xEB",
        // prompt: 已安装的客户端受密码保护，需要输入卸载密码才能进行升级。请输入密码：
        "\xD2\xD1\xB0\xB2\xD7\xB0\xB5\xC4\xBF\xCD\xBB\xA7\xB6\xCB\xCA\xDC\xC3\xDC\xC2\xEB\xB1\xA3\xBB\xA4"
        "\xA3\xAC\xD0\xE8\xD2\xAA\xCA\xE4\xC8\xEB\xD0\xB6\xD4\xD8\xC3\xDC\xC2\xEB\xB2\xC5\xC4\xDC\xBD\xF8"
        "\xD0\xD0\xC9\xFD\xBC\xB6\xA1\xA3\xC7\xEB\xCA\xE4\xC8\xEB\xC3\xDC\xC2\xEB\xA3\xBA",
        // OK button: 确定
        "\xC8\xB7\xB6\xA8",
        // Cancel button: 取消
        "\xC8\xA1\xCF\xFB",
        // retry label (control 1002): 密码错误，请重新输入：
        "\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xCA\xE4\xC8\xEB\xA3\xBA",
        // final box caption: 密码错误
        "\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3",
        // final box text: 超过最大密码错误重试次数，安装程序即将退出。
        "\xB3\xAC\xB9\xFD\xD7\xEE\xB4\xF3\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3\xD6\xD8\xCA\xD4\xB4\xCE\xCA\xFD"
        "\xA3\xAC\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2\xBC\xB4\xBD\xAB\xCD\xCB\xB3\xF6\xA1\xA3",
    };
    return (chinese ? kChinese : kEnglish)[which];
}

}  // namespace gt
