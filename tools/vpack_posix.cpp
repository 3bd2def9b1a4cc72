// vpack on Linux: POSIX files, iconv for record names, and the core's cipher and digests, giving
// the same bytes and error numbers as the Windows build. Paths are the host's (only / separates);
// record names are converted between the locale's charset and the code page given by --codepage.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/md5.h"
#include "core/password.h"
#include "core/transform.h"
#include "core/vrf.h"
#include "tools/vpack.h"
#include "tools/vpack_io.h"

namespace {

// A file descriptor closed on every path.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void Close()
    {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

volatile sig_atomic_t g_signal = 0;

void OnSignal(int sig) { g_signal = sig; }

// True (errno EINTR) once a signal asked vpack to stop.
bool Stopped()
{
    if (g_signal == 0) return false;
    errno = EINTR;
    return true;
}

bool WriteAll(int fd, const void* data, size_t len)
{
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        if (Stopped()) return false;
        ssize_t n = ::write(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= (size_t)n;
    }
    return true;
}

// Reads up to len bytes: the count (short only at the end), or -1.
ssize_t ReadSome(int fd, void* data, size_t len)
{
    size_t done = 0;
    while (done < len) {
        if (Stopped()) return -1;
        ssize_t n = ::read(fd, static_cast<char*>(data) + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += (size_t)n;
    }
    return (ssize_t)done;
}

bool IsFile(const std::string& path, struct stat* st)
{
    return ::stat(path.c_str(), st) == 0 && S_ISREG(st->st_mode);
}

}  // namespace

bool VpackSplitPath(const std::string& path, std::string* dir, std::string* name)
{
    size_t cut = path.rfind('/');
    *dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    *name = cut == std::string::npos ? path : path.substr(cut + 1);
    return !name->empty();
}

// ---- Interruptions -----------------------------------------------------------------------------

void VpackCatchInterrupts()
{
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a read that waits (a pipe, a slow disk) returns to be stopped
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

bool VpackInterrupted() { return g_signal != 0; }

void VpackEndInterrupted()
{
    int sig = g_signal;
    if (sig == 0) return;
    std::fflush(nullptr);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// ---- Files ------------------------------------------------------------------------------------

namespace {

// Per thread: vpack makes compressed frames on more than one.
thread_local int g_lastErrno = 0;

// The permissions of a new file of this user. umask cannot be read without being set, so it is
// read once: two threads that each set it to 0 and back could leave it at 0.
mode_t NewFileMask()
{
    static const mode_t mask = [] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

bool Failed()
{
    g_lastErrno = errno;
    return false;
}

}  // namespace

void VpackFile::Close()
{
    if (h != -1) ::close((int)h);
    h = -1;
}

bool VpackOpenRead(const std::string& path, VpackFile* f)
{
    f->Close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Failed();
    f->h = fd;
    // The package is read front to back once: the kernel may read well ahead.
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool VpackRead(VpackFile* f, void* data, size_t len, size_t* got)
{
    ssize_t n = ReadSome((int)f->h, data, len);
    if (n < 0) return Failed();
    *got = (size_t)n;
    return true;
}

bool VpackWrite(VpackFile* f, const void* data, size_t len)
{
    errno = ENOSPC;  // a write of 0 bytes says no more than that
    return WriteAll((int)f->h, data, len) || Failed();
}

bool VpackSeek(VpackFile* f, uint64_t position)
{
    return ::lseek((int)f->h, (off_t)position, SEEK_SET) == (off_t)position || Failed();
}

bool VpackSize(VpackFile* f, uint64_t* size)
{
    struct stat st;
    if (::fstat((int)f->h, &st) != 0) return Failed();
    *size = (uint64_t)st.st_size;
    return true;
}

bool VpackFlush(VpackFile* f) { return ::fsync((int)f->h) == 0 || errno == EINVAL || Failed(); }

bool VpackCreateTemp(const std::string& target, std::string* tmp, VpackFile* f)
{
    std::string dir, name;
    VpackSplitPath(target, &dir, &name);
    std::string pattern = (dir == "." && target.find('/') == std::string::npos ? "" : dir + "/") + "." + name +
                          ".vpack-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) return Failed();
    // mkostemp makes it private (0600); the result gets what any new file of this user gets.
    (void)::fchmod(fd, 0666 & ~NewFileMask());
    f->Close();
    f->h = fd;
    *tmp = buffer.data();
    return true;
}

bool VpackCommit(VpackFile* f, const std::string& tmp, const std::string& target, bool replace)
{
    if (Stopped()) {
        Failed();
        f->Close();
        return false;
    }
    if (f->IsOpen() && ::fsync((int)f->h) != 0 && errno != EINVAL) {
        Failed();
        f->Close();
        return false;
    }
    f->Close();
    int rc = replace ? ::rename(tmp.c_str(), target.c_str())
                     : ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename: a new link fails just the same on a taken name.
        rc = ::link(tmp.c_str(), target.c_str());
        if (rc == 0) ::unlink(tmp.c_str());
    }
    if (rc != 0) return Failed();
    // The new name lasts only once the folder that holds it is on the disk too.
    std::string dir, name;
    VpackSplitPath(target, &dir, &name);
    int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        (void)::fsync(d);
        ::close(d);
    }
    return true;
}

VpackKind VpackKindOf(const std::string& path, bool follow)
{
    struct stat st;
    if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        Failed();
        return errno == ENOENT || errno == ENOTDIR ? kVpackMissing : kVpackOther;
    }
    return S_ISREG(st.st_mode) ? kVpackFile : S_ISDIR(st.st_mode) ? kVpackDir : kVpackOther;
}

bool VpackIdOf(const std::string& path, VpackFileId* id)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Failed();
    id->volume = (uint64_t)st.st_dev;
    id->index = (uint64_t)st.st_ino;
    return true;
}

bool VpackMakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || Failed(); }

bool VpackRemoveDir(const std::string& path) { return ::rmdir(path.c_str()) == 0 || Failed(); }

void VpackRemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::string VpackSystemReason()
{
    switch (g_lastErrno) {
    case ENOENT: return "no such file or folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case EACCES: case EPERM: return "access denied";
    case ENOSPC: return "no space left on the disk";
    case EEXIST: return "it exists already";
    case EISDIR: return "it is a folder";
    case ENAMETOOLONG: return "the name is too long";
    case ELOOP: return "it is a link";
    case EINTR: return "interrupted";
    default: return std::strerror(g_lastErrno);
    }
}

// ---- Record names -----------------------------------------------------------------------------

namespace {

unsigned long g_codepage = 0;  // 0: none given, names must be ASCII

// The double-byte lead bytes of the Windows ANSI code pages that have them.
int Lead932(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
int Lead936(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

bool IsAscii(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Converts text between the locale's charset and the code page: false when a character has no
// place in the other side.
bool Convert(const std::string& in, bool toCodepage, std::string* out)
{
    std::string cp = "CP" + std::to_string(g_codepage);
    const char* locale = nl_langinfo(CODESET);
    iconv_t cd = toCodepage ? iconv_open(cp.c_str(), locale) : iconv_open(locale, cp.c_str());
    if (cd == (iconv_t)-1) return false;
    std::vector<char> src(in.begin(), in.end()), dst(in.size() * 4 + 16);
    char* inp = src.data();
    char* outp = dst.data();
    size_t inLeft = src.size(), outLeft = dst.size();
    bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != (size_t)-1 &&
              iconv(cd, nullptr, nullptr, &outp, &outLeft) != (size_t)-1 && inLeft == 0;
    iconv_close(cd);
    if (ok) out->assign(dst.data(), (size_t)(outp - dst.data()));
    return ok;
}

}  // namespace

bool VpackSetCodepage(unsigned long codepage, std::string* why)
{
    // The locale's charset is what file names are typed and shown in (nl_langinfo reads it).
    std::setlocale(LC_CTYPE, "");
    // The ANSI code pages of Windows: what the stub's "A" functions read names in.
    static const unsigned long kAnsi[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
    bool known = false;
    for (unsigned long cp : kAnsi) known = known || cp == codepage;
    if (!known) {
        *why = "code page " + std::to_string(codepage) + " is no Windows ANSI code page (874, 932, 936, 949, 950, 1250-1258)";
        return false;
    }
    std::string cp = "CP" + std::to_string(codepage);
    iconv_t cd = iconv_open(cp.c_str(), nl_langinfo(CODESET));
    if (cd == (iconv_t)-1) {
        *why = "iconv cannot convert from " + std::string(nl_langinfo(CODESET)) + " to " + cp;
        return false;
    }
    iconv_close(cd);
    g_codepage = codepage;
    return true;
}

bool VpackStoredName(const std::string& host, std::string* stored, std::string* why)
{
    if (IsAscii(host)) {
        *stored = host;
        return true;
    }
    if (g_codepage == 0) {
        *why = "a name with characters beyond ASCII is stored in the code page of the Windows that will "
               "unpack it: pass --codepage N (936 for Simplified Chinese, 1252 for Western Europe)";
        return false;
    }
    if (!Convert(host, true, stored)) {
        *why = "the name is not " + std::string(nl_langinfo(CODESET)) + " text that code page " +
               std::to_string(g_codepage) + " can hold";
        return false;
    }
    return true;
}

bool VpackHostName(const std::string& stored, std::string* host)
{
    if (IsAscii(stored)) {
        *host = stored;
        return true;
    }
    return g_codepage != 0 && Convert(stored, false, host);
}

VpackLeadByteFn VpackLeadBytes()
{
    switch (g_codepage) {
    case 932: return Lead932;
    case 936: case 949: case 950: return Lead936;
    default: return nullptr;
    }
}

std::string VpackJoinRecord(const std::string& dir, const std::string& hostName)
{
    // The host name is ASCII or locale text converted from the code page, in which no \ is part of
    // a character any more: each one is a separator.
    std::string path = dir;
    if (path.empty() || path.back() != '/') path += '/';
    for (char c : hostName) path += c == '\\' ? '/' : c;
    return path;
}

std::vector<std::string> VpackRecordFolders(const std::string& dir, const std::string& hostName)
{
    // Locale text: in UTF-8 and the other charsets a Linux locale uses, every 0x5C is a \ and
    // every 0x2F a /.
    std::vector<std::string> folders;
    for (size_t i = 0; i < hostName.size(); ++i)
        if (hostName[i] == '\\' || hostName[i] == '/') folders.push_back(VpackJoinRecord(dir, hostName.substr(0, i)));
    return folders;
}

// ---- Files below a destination folder ---------------------------------------------------------

namespace {

// Opens the folder that holds path, walking from dest one name at a time with O_NOFOLLOW: a link
// on the way fails (ELOOP) instead of leading elsewhere. *base gets path's last name.
bool OpenParentBelow(const std::string& dest, const std::string& path, Fd* folder, std::string* base)
{
    if (path.compare(0, dest.size(), dest) != 0) {
        errno = EINVAL;
        return Failed();
    }
    size_t at = dest.size();
    while (at < path.size() && path[at] == '/') ++at;
    folder->fd = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder->fd < 0) return Failed();
    for (size_t slash; (slash = path.find('/', at)) != std::string::npos; at = slash + 1) {
        int next = ::openat(folder->fd, path.substr(at, slash - at).c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            struct stat st;
            // A link to a folder is refused as the link it is, whatever open says of it.
            if (::fstatat(folder->fd, path.substr(at, slash - at).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                errno = ELOOP;
            return Failed();
        }
        folder->Close();
        folder->fd = next;
    }
    *base = path.substr(at);
    return true;
}

}  // namespace

VpackKind VpackKindBelow(const std::string& dest, const std::string& path)
{
    Fd folder;
    std::string base;
    struct stat st;
    if (!OpenParentBelow(dest, path, &folder, &base) || ::fstatat(folder.fd, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        Failed();
        return errno == ENOENT ? kVpackMissing : kVpackOther;
    }
    return S_ISREG(st.st_mode) ? kVpackFile : S_ISDIR(st.st_mode) ? kVpackDir : kVpackOther;
}

bool VpackMakeDirBelow(const std::string& dest, const std::string& path)
{
    Fd folder;
    std::string base;
    return (OpenParentBelow(dest, path, &folder, &base) && ::mkdirat(folder.fd, base.c_str(), 0777) == 0) || Failed();
}

bool VpackRemoveDirBelow(const std::string& dest, const std::string& path)
{
    Fd folder;
    std::string base;
    return (OpenParentBelow(dest, path, &folder, &base) && ::unlinkat(folder.fd, base.c_str(), AT_REMOVEDIR) == 0) ||
           Failed();
}

void VpackRemoveBelow(const std::string& dest, const std::string& path)
{
    Fd folder;
    std::string base;
    if (OpenParentBelow(dest, path, &folder, &base)) ::unlinkat(folder.fd, base.c_str(), 0);
}

bool VpackCreateTempBelow(const std::string& dest, const std::string& path, std::string* tmp, VpackFile* f)
{
    Fd folder;
    std::string base;
    if (!OpenParentBelow(dest, path, &folder, &base)) return false;
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const mode_t mask = NewFileMask();
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, 0) != (ssize_t)sizeof random) return Failed();
        std::string name = "." + base + ".vpack-";
        for (unsigned char r : random) name += kLetters[r % 62];
        int fd = ::openat(folder.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666 & ~mask);
        if (fd >= 0) {
            f->Close();
            f->h = fd;
            *tmp = path.substr(0, path.size() - base.size()) + name;
            return true;
        }
        if (errno != EEXIST) return Failed();
    }
    return Failed();
}

bool VpackRenameBelow(const std::string& dest, const std::string& from, const std::string& to, bool replace)
{
    Fd folder;
    std::string base, fromBase;
    if (!OpenParentBelow(dest, to, &folder, &base)) return false;
    fromBase = from.substr(from.rfind('/') + 1);
    int rc = replace ? ::renameat(folder.fd, fromBase.c_str(), folder.fd, base.c_str())
                     : ::renameat2(folder.fd, fromBase.c_str(), folder.fd, base.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename: a new link fails just the same on a taken name.
        rc = ::linkat(folder.fd, fromBase.c_str(), folder.fd, base.c_str(), 0);
        if (rc == 0) ::unlinkat(folder.fd, fromBase.c_str(), 0);
    }
    if (rc != 0) return Failed();
    (void)::fsync(folder.fd);
    return true;
}

std::string VpackArgumentProblem(int, char**) { return ""; }

namespace {

const DesContext& PwdKey()
{
    static DesContext ctx;
    static bool ready = DesSetKey(kStoredPwdKey, &ctx) == 0;
    (void)ready;
    return ctx;
}

// Reads a whole file of at most limit bytes: 1 done, 0 unreadable or changed, -1 too large.
int ReadFile(const std::string& path, uint32_t limit, std::vector<uint8_t>* bytes)
{
    struct stat st;
    if (!IsFile(path, &st)) return 0;
    if ((uint64_t)st.st_size > limit) return -1;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) return 0;
    bytes->resize((size_t)st.st_size);
    return ReadSome(fd.fd, bytes->data(), bytes->size()) == (ssize_t)bytes->size() ? 1 : 0;
}

}  // namespace

int VpackEncryptPwd(const std::string& password, std::string* text)
{
    if (password.size() > 0x7FFFFF00) return PWD_CIPHER_FAILED;
    int count = (int)password.size(), padded = (count & ~7) + 8;
    std::vector<uint8_t> cipher((size_t)padded);
    std::string out(4 * ((size_t)padded + 2) / 3 + 1, '\0');
    int rc = core_PwdEncipher(&PwdKey(), reinterpret_cast<const uint8_t*>(password.data()), count, cipher.data(),
                              padded, &out[0]);
    if (rc == PWD_OK) *text = out.c_str();
    return rc;
}

int VpackDecryptPwd(const std::string& text, std::string* password)
{
    if (text.empty()) return PWD_NO_MEMORY;
    if (text.size() > 0x7FFFFF00) return PWD_BAD_DATA;
    int capacity = (int)text.size() + 8, m = 0, k = 0;
    std::vector<uint8_t> cipher(text.size()), plain((size_t)capacity + 8);
    int rc = core_PwdDecode(text.c_str(), cipher.data(), capacity, &m);
    if (rc == PWD_OK) rc = core_PwdDecipher(&PwdKey(), cipher.data(), m, plain.data(), capacity, &k);
    if (rc == PWD_OK) password->assign(reinterpret_cast<const char*>(plain.data()), (size_t)k);
    return rc;
}

unsigned long VpackMakeVrf(const std::string& ini, const std::string& vrf, bool namedPair)
{
    struct stat st;
    if (!IsFile(ini, &st)) return VRF_ERR_SIZE;
    std::vector<uint8_t> settings;
    int got = ReadFile(ini, namedPair ? kVrfNamedLimit : kVrfGeneralLimit, &settings);
    if (got < 0) return VRF_ERR_TOO_LARGE;
    if (got == 0) return VRF_ERR_OPEN;
    // The salt as the client makes it: the C library's generator seeded with the time, each
    // byte 0..254.
    uint8_t file[kVrfFileSize];
    std::srand((unsigned)std::time(nullptr));
    for (uint32_t i = 0; i < kVrfSaltSize; ++i) file[i] = (uint8_t)(std::rand() % 255);
    uint8_t icon[kVrfIconSize];
    core_VrfFixedIcon(icon);
    if (!core_VrfDigest(settings.data(), (uint32_t)settings.size(), file, namedPair ? icon : nullptr,
                        file + kVrfSaltSize))
        return VRF_ERR_KEY;
    ::unlink(vrf.c_str());
    Fd out(::open(vrf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.fd < 0) return VRF_ERR_CREATE;
    return WriteAll(out.fd, file, sizeof file) ? 0 : VRF_ERR_WRITE;
}

bool VpackVerifyVrf(const std::string& ini, const std::string& vrf, bool namedPair)
{
    const uint32_t limit = namedPair ? kVrfNamedLimit : kVrfGeneralLimit;
    std::vector<uint8_t> settings, digest;
    if (ReadFile(vrf, kVrfFileSize, &digest) != 1 || ReadFile(ini, limit, &settings) != 1) return false;
    uint8_t icon[kVrfIconSize];
    core_VrfFixedIcon(icon);
    return core_VrfMatches(digest.data(), (uint32_t)digest.size(), settings.data(), (uint32_t)settings.size(), limit,
                           namedPair ? icon : nullptr) != 0;
}

bool VpackMd5File(const std::string& path, unsigned char* digest)
{
    struct stat st;
    if (!IsFile(path, &st)) return false;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) return false;
    Md5Context m;
    core_Md5Init(&m);
    uint8_t buffer[65536];
    uint64_t left = (uint64_t)st.st_size;
    while (left > 0) {
        ssize_t got = ReadSome(fd.fd, buffer, left < sizeof buffer ? (size_t)left : sizeof buffer);
        if (got <= 0) return false;  // ended before the size measured at the start
        core_Md5Update(&m, buffer, (size_t)got);
        left -= (uint64_t)got;
    }
    core_Md5Final(&m, digest);
    return true;
}

VPACK_COMMAND(uninstall_check, 3, "uninstall-check", "vpack uninstall-check",
              "Windows only: the setup's uninstall-password lookup reads this machine's registry")
{
    (void)argc;
    (void)argv;
    return VpackFail("uninstall-check reads the Windows registry of the machine it runs on: run vpack.exe there");
}
