// Fuzz target: the IPv6 text check against the C library's inet_pton (narrowed the documented
// way: no dotted IPv4 part, no "::" standing for a single group), and the name checks against
// their character lists, on texts of exactly their length.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/names.h"

namespace {

// The client's IPv6 form: what inet_pton takes, minus embedded IPv4 and minus a "::" that
// stands for one group only (seven groups written beside it).
int Ipv6Model(const std::string& text)
{
    unsigned char address[16];
    if (text.size() > 39 || text.find('.') != std::string::npos) return 0;
    if (inet_pton(AF_INET6, text.c_str(), address) != 1) return 0;
    size_t pair = text.find("::");
    if (pair == std::string::npos) return 1;
    size_t colons = 0;
    for (char c : text) colons += c == ':';
    return colons - 2 <= 5 ? 1 : 0;
}

int NameModel(const std::string& text, const char* forbidden)
{
    return text.find_first_of(forbidden) == std::string::npos ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    char* exact = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(exact, text.c_str(), text.size() + 1);
    if (utl_IsIpv6Text(exact) != Ipv6Model(text)) std::abort();
    if (utl_IsValidFileName(exact) != NameModel(text, "\\/:*?\"<>|\t")) std::abort();
    if (utl_IsValidNameNoApostrophe(exact) != NameModel(text, "\\/:*?\"'<>|")) std::abort();
    std::free(exact);
    return 0;
}
