// vpack's stored-format commands, run as the real program: encrypt-pwd, decrypt-pwd, sign,
// verify, md5.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/testutil.h"

namespace {

struct Outcome {
    int code;
    std::string out;
};

// Runs bin\vpack.exe with args; standard output and error go to one file that is read back,
// with "\r\n" line ends turned into "\n".
Outcome Vpack(const std::vector<std::string>& args)
{
    std::string raw;
    Outcome r{vt::RunTool(vt::BinDir() + "\\vpack.exe", args, &raw, nullptr), ""};
    for (char c : raw)
        if (c != '\r') r.out += c;  // the console streams are in text mode
    return r;
}

TEST(VpackCrypto, PasswordBothWays)
{
    // openssl enc -des-ecb -K 6b6f707261353237 of "Password1", Base64.
    Outcome enc = Vpack({"encrypt-pwd", "Password1"});
    EXPECT_EQ(enc.code, 0);
    EXPECT_EQ(enc.out, "0vv2T0Gl1BBXGGwNPQYi6Q==\n");
    Outcome dec = Vpack({"decrypt-pwd", "0vv2T0Gl1BBXGGwNPQYi6Q=="});
    EXPECT_EQ(dec.code, 0);
    EXPECT_EQ(dec.out, "Password1\n");
    Outcome bad = Vpack({"decrypt-pwd", "0vv2T0Gl1BBXGGwNPQYi6Q="});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.out, "vpack: 5: the text is not valid Base64\n");
    EXPECT_EQ(Vpack({"decrypt-pwd"}).code, 2);
}

TEST(VpackCrypto, SignVerifyAndMd5)
{
    std::string dir = vt::FreshDir("vpack_sign");
    std::string ini = dir + "\\VemloUninstallInfo.ini", vrf = dir + "\\VemloUninstallInfo.vrf";
    vt::WriteAll(ini, "abc");
    EXPECT_EQ(Vpack({"sign", ini, vrf}).code, 0);
    EXPECT_EQ(vt::ReadAll(vrf).size(), 256u);
    EXPECT_EQ(Vpack({"verify", ini, vrf}).code, 0);
    EXPECT_EQ(Vpack({"verify", ini, vrf, "--pair", "uninstall"}).code, 0);
    EXPECT_EQ(Vpack({"verify", ini, vrf, "--pair", "general"}).code, 1);  // no icon block there
    EXPECT_EQ(Vpack({"verify", ini, vrf, "--pair", "other"}).code, 2);

    std::string any = dir + "\\Other.ini", anyVrf = dir + "\\Other.vrf";
    vt::WriteAll(any, std::string(7852, 'x'));
    EXPECT_EQ(Vpack({"sign", any, anyVrf}).code, 0);  // general by default
    EXPECT_EQ(Vpack({"verify", any, anyVrf, "--pair", "general"}).code, 0);
    Outcome big = Vpack({"sign", any, anyVrf, "--pair", "custom"});
    EXPECT_EQ(big.code, 1);
    EXPECT_EQ(big.out, "vpack: 302: the settings file is too large for its pair (" + any + ")\n");
    EXPECT_TRUE(vt::Exists(anyVrf));  // the digest file made before is still there

    vt::WriteAll(ini, "abd");
    EXPECT_EQ(Vpack({"verify", ini, vrf}).code, 1);

    vt::WriteAll(ini, "abc");
    Outcome md5 = Vpack({"md5", ini});
    EXPECT_EQ(md5.code, 0);
    EXPECT_EQ(md5.out, "900150983cd24fb0d6963f7d28e17f72\n");  // RFC 1321's "abc"
    EXPECT_EQ(Vpack({"md5", dir + "\\missing"}).code, 1);
}

}  // namespace
