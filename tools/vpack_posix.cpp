// vpack on Linux: the core's package rules, cipher and digests over POSIX files, giving the same
// bytes and error numbers as the Windows build. Paths are the host's: only / separates, and a
// record name is read byte by byte (a \ in it is a separator, whatever byte comes before).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

bool WriteAll(int fd, const void* data, size_t len)
{
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
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

// The walker's byte source over a descriptor; a failed read leaves its errno.
struct FdSource {
    int fd;
    CoreByteSource src;
    explicit FdSource(int f) : fd(f) { src = {Read, Seek, this, 0}; }

    static int32_t Read(void* ctx, uint8_t* buffer, uint32_t len)
    {
        FdSource* s = static_cast<FdSource*>(ctx);
        ssize_t n = ReadSome(s->fd, buffer, len);
        if (n < 0) s->src.lastError = (uint32_t)errno;
        return (int32_t)n;
    }
    static int Seek(void* ctx, uint64_t position)
    {
        return ::lseek(static_cast<FdSource*>(ctx)->fd, (off_t)position, SEEK_SET) == (off_t)position;
    }
};

// Walks the package in fd from offset with visitor: 0 or the error number. Content that is
// looked at goes through in 256 KiB pieces.
unsigned long Walk(int fd, unsigned long offset, CoreVisitor visitor)
{
    struct stat st;
    int sized = ::fstat(fd, &st) == 0 ? 1 : 0;
    uint32_t packageLen = 0, err = 0;
    if (!core_PackageLength(&visitor, sized, sized ? (uint64_t)st.st_size : 0, (uint32_t)offset, &packageLen, &err))
        return err;
    std::vector<uint8_t> piece;
    if (visitor.piece || visitor.digest) {
        piece.resize(256 * 1024);
        visitor.pieceBuffer = piece.data();
        visitor.pieceSize = (uint32_t)piece.size();
    }
    FdSource source(fd);
    return core_WalkPackage(&source.src, (uint32_t)offset, packageLen, &visitor, &err) ? 0 : err;
}

uint32_t SeeEnd(void* ctx, const CoreRecord* record)
{
    if (record->isEnd) *static_cast<int*>(ctx) = 1;
    return 0;
}

// A package being written: cut back to its old length unless kept.
struct PackageWrite {
    Fd file;
    off_t start = 0;
    bool keep = true;
    ~PackageWrite()
    {
        if (!keep && file.fd >= 0 && ::ftruncate(file.fd, start) != 0) {
            // Nothing more can be done: the error number of the command says the write failed.
        }
    }
};

}  // namespace

bool VpackSplitPath(const std::string& path, std::string* dir, std::string* name)
{
    size_t cut = path.rfind('/');
    *dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    *name = cut == std::string::npos ? path : path.substr(cut + 1);
    return !name->empty();
}

unsigned long VpackPackFile(const std::string& package, const std::string& file, bool add)
{
    if (package.empty() || file.empty()) return 150;
    std::string dir, name;
    VpackSplitPath(file, &dir, &name);
    if (file.size() >= kPackagePathLimit || package.size() >= kPackagePathLimit) return 151;
    struct stat src, pkg;
    if (!IsFile(file, &src)) return 152;
    if (::stat(package.c_str(), &pkg) == 0) {
        // A source that is the package itself can be neither read while written nor kept when
        // the package is replaced: refused before anything is deleted.
        if (pkg.st_dev == src.st_dev && pkg.st_ino == src.st_ino) return 156;
        if (!add && ::unlink(package.c_str()) != 0) return 154;
    } else if (add) {
        return 153;
    }
    if ((uint64_t)src.st_size > 0xFFFFFFFFull) return 155;
    const uint32_t dataLen = (uint32_t)src.st_size;

    Fd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) return 156;
    PackageWrite out;
    out.file.fd = ::open(package.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (out.file.fd < 0) return 156;
    if (add) {
        int closed = 0;
        CoreVisitor v = {};
        v.begin = SeeEnd;
        v.ctx = &closed;
        Walk(out.file.fd, 0, v);
        if (closed) return kErrPackageClosed;
    }
    out.start = ::lseek(out.file.fd, 0, SEEK_END);
    if (out.start < 0) return 157;
    out.keep = false;  // from here on a failure cuts the package back

    uint8_t buffer[kPackagePiece];
    if (!add) {
        std::memcpy(buffer, kPackageMagic, kPackageMagicLen);
        core_MixBytes(buffer, kPackageMagicLen);
        if (!WriteAll(out.file.fd, buffer, kPackageMagicLen)) return 157;
    }
    uint8_t head[8 + kPackagePathLimit];
    core_EncodeRecordHead(head, name.data(), (uint32_t)name.size(), dataLen);
    if (!WriteAll(out.file.fd, head, 8 + name.size())) return 157;
    for (uint32_t copied = 0; copied < dataLen;) {
        uint32_t want = dataLen - copied < sizeof buffer ? dataLen - copied : (uint32_t)sizeof buffer;
        // A source that ends before the size it had when measured makes no record.
        if (ReadSome(in.fd, buffer, want) != (ssize_t)want) return 166;
        core_MixBytes(buffer, want);
        if (!WriteAll(out.file.fd, buffer, want)) return 157;
        copied += want;
    }
    // A source that has grown since it was measured is not what was measured either.
    if (ReadSome(in.fd, buffer, 1) != 0) return 166;
    if (::fsync(out.file.fd) != 0 && errno != EINVAL) return 157;
    out.keep = true;
    return 0;
}

unsigned long VpackClosePackage(const std::string& package)
{
    if (package.empty()) return 150;
    if (package.size() >= kPackagePathLimit) return 151;
    struct stat st;
    if (!IsFile(package, &st)) return 152;
    PackageWrite out;
    out.file.fd = ::open(package.c_str(), O_RDWR | O_CLOEXEC);
    if (out.file.fd < 0) return 156;
    int closed = 0;
    PackDigestCheck check = {};
    CoreVisitor v = {};
    v.begin = SeeEnd;
    v.ctx = &closed;
    v.digest = &check;
    if (unsigned long err = Walk(out.file.fd, 0, v)) return err;
    if (closed) return kErrPackageClosed;
    out.start = ::lseek(out.file.fd, 0, SEEK_END);
    if (out.start < 0) return 157;
    out.keep = false;
    uint8_t record[kEndRecordLen];
    uint32_t len = core_EncodeEndRecord(record, &check.blake3);
    if (!WriteAll(out.file.fd, record, len) || (::fsync(out.file.fd) != 0 && errno != EINVAL)) return 157;
    out.keep = true;
    return 0;
}

namespace {

// The unpacker's visitor: one destination file at a time, and the files it opened, so that a
// package found damaged at its end leaves none of them behind.
struct Unpacking {
    std::string dir;
    Fd file;
    std::vector<std::string> made;
};

// dir/name with every \ of the record name made a /: the name rule has already made sure that
// no component is empty, "." or "..".
std::string Join(const std::string& dir, const char* name)
{
    std::string path = dir;
    if (path.empty() || path.back() != '/') path += '/';
    for (const char* p = name; *p; ++p) path += *p == '\\' ? '/' : *p;
    return path;
}

uint32_t UnpackBegin(void* ctx, const CoreRecord* record)
{
    Unpacking* u = static_cast<Unpacking*>(ctx);
    std::string path = Join(u->dir, record->name);
    if (path.size() >= kPackagePathLimit) return 165;
    u->made.push_back(path);
    // Never through a link planted at the name: the file itself is opened or made.
    u->file.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (record->isEnd) {
        u->file.Close();  // left as it was, like the library's unpacker leaves it
        return 0;
    }
    // An existing file is cut to nothing first, so the result equals the packed bytes.
    if (u->file.fd < 0) return 165;
    return ::ftruncate(u->file.fd, 0) == 0 ? 0 : 157;
}

uint32_t UnpackPiece(void* ctx, const uint8_t* data, uint32_t len)
{
    return WriteAll(static_cast<Unpacking*>(ctx)->file.fd, data, len) ? 0 : 157;
}

void UnpackFinish(void* ctx)
{
    static_cast<Unpacking*>(ctx)->file.Close();
}

}  // namespace

unsigned long VpackUnpack(const std::string& path, const std::string& dir, unsigned long offset)
{
    if (path.empty() || dir.empty()) return 150;
    if (path.size() >= kPackagePathLimit || dir.size() >= kPackagePathLimit) return 151;
    struct stat st;
    if (!IsFile(path, &st)) return 152;
    if (!VpackDirExists(dir)) return 158;
    Fd src(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (src.fd < 0) return 156;
    Unpacking u;
    u.dir = dir;
    PackDigestCheck check = {};
    CoreVisitor v = {};
    v.begin = UnpackBegin;
    v.piece = UnpackPiece;
    v.finish = UnpackFinish;
    v.ctx = &u;
    v.dstLen = (uint32_t)dir.size();
    v.digest = &check;
    unsigned long err = Walk(src.fd, offset, v);
    u.file.Close();
    if (err == kErrDigestMismatch)
        for (const std::string& made : u.made) ::unlink(made.c_str());
    return err;
}

unsigned long VpackCheckPackage(const std::string& path, unsigned long offset, PackDigestCheck* check,
                                std::vector<VpackListed>* records)
{
    if (path.size() >= kPackagePathLimit) return 151;
    struct stat st;
    if (!IsFile(path, &st)) return 152;
    Fd src(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (src.fd < 0) return 156;
    CoreVisitor v = {};
    v.begin = [](void* ctx, const CoreRecord* record) -> uint32_t {
        auto* out = static_cast<std::vector<VpackListed>*>(ctx);
        if (out && !record->isEnd) out->push_back({record->name, record->dataLen});
        return 0;
    };
    v.ctx = records;
    v.digest = check;
    return Walk(src.fd, offset, v);
}

bool VpackDirExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool VpackMakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0; }

bool VpackReplaceFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

void VpackRemoveFile(const std::string& path) { ::unlink(path.c_str()); }

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

VPACK_COMMAND(uninstall_check, "uninstall-check", "vpack uninstall-check",
              "Windows only: the setup's uninstall-password lookup reads this machine's registry")
{
    (void)argc;
    (void)argv;
    return VpackFail("uninstall-check reads the Windows registry of the machine it runs on: run vpack.exe there");
}
