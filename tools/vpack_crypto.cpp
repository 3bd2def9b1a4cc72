// vpack commands for the client's stored formats: the stored password, .vrf digest files, MD5.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/password.h"
#include "core/vrf.h"
#include "tools/vpack.h"

namespace {

const char* PwdMeaning(int code)
{
    switch (code) {
    case PWD_NO_CONTEXT: return "the password key could not be prepared";
    case PWD_TEXT_TOO_SMALL: return "the password is too long for a stored text";
    case PWD_CIPHER_FAILED: return "enciphering failed";
    case PWD_NO_MEMORY: return "out of memory or empty text";
    case PWD_BAD_TEXT: return "the text is not valid Base64";
    case PWD_BAD_DATA: return "the deciphered data does not fit or is malformed";
    default: return "unknown failure";
    }
}

const char* VrfMeaning(unsigned long code)
{
    switch (code) {
    case VRF_ERR_SIZE: return "the size of the settings file could not be read (missing?)";
    case VRF_ERR_TOO_LARGE: return "the settings file is too large for its pair";
    case VRF_ERR_OPEN: return "the settings file could not be opened or read";
    case VRF_ERR_CREATE: return "the digest file could not be created";
    case VRF_ERR_WRITE: return "writing the digest file failed";
    case VRF_ERR_KEY: return "the digest key could not be built";
    default: return "unknown failure";
    }
}

int FailCode(long code, const std::string& meaning)
{
    return VpackFail((std::to_string(code) + ": " + meaning).c_str());
}

// Named pairs hash the fixed icon block and allow 7820 bytes; the general pair neither.
// Without --pair the settings file's own name decides (any other name: general).
bool NamedPair(const char* ini, const char* pair, bool* named)
{
    if (pair) {
        if (!std::strcmp(pair, "general")) *named = false;
        else if (!std::strcmp(pair, "custom") || !std::strcmp(pair, "uninstall") || !std::strcmp(pair, "wbq"))
            *named = true;
        else return false;
        return true;
    }
    const char* base = std::strrchr(ini, '\\');
    const char* slash = std::strrchr(ini, '/');
    if (slash && (!base || slash > base)) base = slash;
    base = base ? base + 1 : ini;
    auto same = [](const char* a, const char* b) {
        for (; *a && *b; ++a, ++b)
            if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
        return *a == *b;
    };
    *named = same(base, CUSTOM_INI) || same(base, UNINSTALL_INFO_INI) || same(base, WBQ_UNINSTALL_INI);
    return true;
}

// INI VRF [--pair NAME]: true with the three filled in, false on wrong usage (the usage line
// printed).
bool DigestArgs(const char* command, int argc, char** argv, std::string* ini, std::string* vrf, bool* named)
{
    static const char* const kValued[] = {"--pair", nullptr};
    VpackArgs a;
    if (!VpackParse(command, argc, argv, nullptr, kValued, &a)) return false;
    if (a.pos.size() != 2 || !NamedPair(a.pos[0].c_str(), a.Value("--pair"), named)) {
        VpackUsage(command);
        return false;
    }
    *ini = a.pos[0];
    *vrf = a.pos[1];
    return true;
}

// The one operand of a command that takes no options ("--" lets it start with a dash).
bool OneOperand(const char* command, int argc, char** argv, std::string* operand)
{
    VpackArgs a;
    if (!VpackParse(command, argc, argv, nullptr, nullptr, &a)) return false;
    if (a.pos.size() != 1) {
        VpackUsage(command);
        return false;
    }
    *operand = a.pos[0];
    return true;
}

std::string HexOf(const unsigned char* p, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

}  // namespace

VPACK_COMMAND(EncryptPwd, 3, "encrypt-pwd", "vpack encrypt-pwd [--] PASSWORD",
              "print the stored form (DES-ECB + Base64) of a password")
{
    std::string password, text;
    if (!OneOperand("encrypt-pwd", argc, argv, &password)) return 2;
    int rc = VpackEncryptPwd(password, &text);
    if (rc != PWD_OK) return FailCode(rc, PwdMeaning(rc));
    std::printf("%s\n", text.c_str());
    return 0;
}

VPACK_COMMAND(DecryptPwd, 3, "decrypt-pwd", "vpack decrypt-pwd TEXT", "print the password of a stored form")
{
    std::string text, out;
    if (!OneOperand("decrypt-pwd", argc, argv, &text)) return 2;
    int rc = VpackDecryptPwd(text, &out);
    if (rc != PWD_OK) return FailCode(rc, PwdMeaning(rc));
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::printf("\n");
    return 0;
}

VPACK_COMMAND(Sign, 3, "sign", "vpack sign INI VRF [--pair custom|uninstall|wbq|general]",
              "make the .vrf digest file of a settings file (pair from the file name by default)")
{
    std::string ini, vrf, what;
    bool named;
    if (!DigestArgs("sign", argc, argv, &ini, &vrf, &named)) return 2;
    // Made under a temporary name and put in place whole: a failure leaves the old .vrf as it was.
    VpackOutput out;
    if (unsigned long err = out.Open(vrf, &what)) return VpackFailWith(err, what);
    out.file.Close();
    if (unsigned long code = VpackMakeVrf(ini, out.tmp, named)) {
        // The settings file is at fault, or the digest file that could not be written.
        bool written = code == VRF_ERR_CREATE || code == VRF_ERR_WRITE;
        return FailCode((long)code, std::string(VrfMeaning(code)) + " (" + (written ? vrf : ini) + ")");
    }
    if (unsigned long err = out.Commit(&what)) return VpackFailWith(err, what);
    std::printf("signed %s -> %s (%s pair)\n", ini.c_str(), vrf.c_str(), named ? "named" : "general");
    return 0;
}

VPACK_COMMAND(Verify, 3, "verify", "vpack verify INI VRF [--pair custom|uninstall|wbq|general]",
              "check a settings file against its .vrf digest file (exit 0 match, 1 not)")
{
    std::string ini, vrf;
    bool named;
    if (!DigestArgs("verify", argc, argv, &ini, &vrf, &named)) return 2;
    if (!VpackVerifyVrf(ini, vrf, named))
        return VpackFail(("digest does not match (or a file is missing): " + ini + ", " + vrf).c_str());
    std::printf("match\n");
    return 0;
}

VPACK_COMMAND(Md5, 3, "md5", "vpack md5 FILE", "print the MD5 digest of a file in lower-case hex")
{
    std::string path;
    if (!OneOperand("md5", argc, argv, &path)) return 2;
    unsigned char digest[16];
    if (!VpackMd5File(path, digest)) return VpackFail(("cannot read " + path + " whole").c_str());
    std::printf("%s\n", HexOf(digest, sizeof digest).c_str());
    return 0;
}
