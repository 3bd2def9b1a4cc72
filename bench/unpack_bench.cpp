// Unpack speed and memory: the unpack of a 64 MiB closed package as a bound setup does it (held
// file, BLAKE3-256 against the digest in its slot), as an unbound one does it (both digests), with
// XXH3-64 alone (what the unpack cost before BLAKE3) and without an end record, all through the
// held file, against CopyFileA of the same bytes (rounds interleaved, medians); what the pieces of the work cost in memory (transform,
// BLAKE3, XXH3-64, and zlib's CRC-32 for comparison), and the peak working set when unpacking 16
// and 256 MiB.
//
// usage: unpack_bench [FOLDER]          (default C:\vbench; needs about 800 MB free there)
//        unpack_bench --compressed SETUP SOURCE [FOLDER]: a compressed setup made by vpack of the
//        files in SOURCE (bench/vpack_setup_bench.sh --compressed makes it and runs this)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/files.h"
#include "log/log.h"
#include "package/package.h"

#if VEMLO_BENCH_ZLIB
#include <zlib.h>
#endif

namespace {

const DWORD kMiB = 1024 * 1024;

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

void Die(const char* what)
{
    std::fprintf(stderr, "unpack_bench: %s (error %lu)\n", what, GetLastError());
    std::exit(1);
}

// A file of the given size with bytes that do not repeat in short cycles.
void MakeFile(const std::string& path, DWORD size, unsigned seed)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) Die("cannot create a source file");
    std::vector<char> buf(kMiB);
    unsigned x = seed * 2654435761u + 1;
    for (DWORD done = 0; done < size; done += kMiB) {
        for (char& c : buf) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 23);
        }
        DWORD n = std::min<DWORD>(kMiB, size - done), wrote = 0;
        if (!WriteFile(f, buf.data(), n, &wrote, NULL) || wrote != n) Die("cannot write a source file");
    }
    CloseHandle(f);
}

// Builds dir\pkg.vpk from `files` source files of `each` bytes in dir\src.
std::vector<std::string> BuildPackage(const std::string& dir, int files, DWORD each)
{
    std::string src = dir + "\\src";
    CreateDirectoryA(dir.c_str(), NULL);
    CreateDirectoryA(src.c_str(), NULL);
    std::vector<std::string> names;
    for (int i = 0; i < files; ++i) {
        std::string name = "part" + std::to_string(i) + ".bin";
        MakeFile(src + "\\" + name, each, static_cast<unsigned>(i + 1));
        DWORD err = 0;
        if (!utl_FilePack(src.c_str(), name.c_str(), dir.c_str(), "pkg.vpk", &err, i > 0))
            Die(("cannot pack " + name + ", error " + std::to_string(err)).c_str());
        names.push_back(name);
    }
    DWORD err = 0;
    if (!utl_ClosePackage(dir.c_str(), "pkg.vpk", &err)) Die("cannot close the package");
    return names;
}

void FreshFolder(const std::string& dir)
{
    utl_DeleteDirTree(dir.c_str());
    if (!CreateDirectoryA(dir.c_str(), NULL)) Die("cannot make a folder");
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.PeakWorkingSetSize;
}

// Child: build a package of mib MiB in 4 files, unpack it, print the peak working set.
int MemoryRun(const std::string& base, DWORD mib)
{
    std::string dir = base + "\\mem" + std::to_string(mib);
    utl_DeleteDirTree(dir.c_str());
    BuildPackage(dir, 4, mib / 4 * kMiB);
    SIZE_T afterBuild = PeakWorkingSet();
    FreshFolder(dir + "\\out");
    DWORD err = 0;
    if (!utl_FileUnpack(dir.c_str(), "pkg.vpk", (dir + "\\out").c_str(), &err, 0)) Die("unpack failed");
    std::printf("peak working set, %3lu MiB package: %lu KiB (after packing %lu KiB)\n", static_cast<unsigned long>(mib),
                static_cast<unsigned long>(PeakWorkingSet() / 1024), static_cast<unsigned long>(afterBuild / 1024));
    utl_DeleteDirTree(dir.c_str());
    return 0;
}

int RunChild(const std::string& base, DWORD mib)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string cmd = "\"" + std::string(self) + "\" --memory " + std::to_string(mib) + " \"" + base + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(self, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) Die("cannot start a child");
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

// A setup made by vpack (compressed records): unpacked through the held file from 307200 with the
// BLAKE3-256 of its package expected, as a bound setup unpacks, against CopyFileA of the files it
// installs (SOURCE: the folder that holds them); rounds interleaved, medians; then the peak
// working set of this process, which did nothing else.
int CompressedRun(const std::string& setup, const std::string& source, const std::string& base)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CreateDirectoryA(base.c_str(), NULL);
    std::string dir = base + "\\zstd";
    utl_DeleteDirTree(dir.c_str());
    CreateDirectoryA(dir.c_str(), NULL);
    HANDLE f = CreateFileA(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    LARGE_INTEGER size;
    if (f == INVALID_HANDLE_VALUE || !GetFileSizeEx(f, &size)) Die("cannot open the setup");
    // The package before its end record: what vpack wrote into the slot.
    DigestValue expect = {};
    {
        LARGE_INTEGER at;
        at.QuadPart = 307200;
        SetFilePointerEx(f, at, NULL, FILE_BEGIN);
        PayloadDigest d;
        core_DigestBegin(&d, kDigestBlake3);
        std::vector<BYTE> buf(kMiB);
        for (LONGLONG left = size.QuadPart - 307200 - kEndRecordLen; left > 0;) {
            DWORD want = left < (LONGLONG)kMiB ? (DWORD)left : kMiB, got = 0;
            if (!ReadFile(f, buf.data(), want, &got, NULL) || got != want) Die("cannot read the setup");
            utl_DigestUpdate(&d, buf.data(), got);
            left -= got;
        }
        utl_DigestValue(&d, kDigestBlake3, &expect);
    }
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((source + "\\*").c_str(), &found);
    LONGLONG installed = 0;
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        names.push_back(found.cFileName);
        installed += (LONGLONG)found.nFileSizeHigh << 32 | found.nFileSizeLow;
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    std::vector<double> unpack, copy, walked, undigested;
    for (int round = 0; round < 5; ++round) {
        // The same walk (read, digest beside, unmix, decode) with the content counted, not written.
        PackDigestCheck check = {};
        check.expect = &expect;
        PackVisitor v = {};
        LONGLONG counted = 0;
        v.piece = [](void* ctx, const BYTE*, DWORD len) {
            *static_cast<LONGLONG*>(ctx) += len;
            return (DWORD)0;
        };
        v.ctx = &counted;
        v.pieceSize = 1024 * 1024;
        v.digest = &check;
        DWORD walkErr = 0;
        double w = Now();
        if (!utl_WalkPackageFile(f, 307200, &v, &walkErr) || counted != installed) Die("the walk failed");
        walked.push_back(Now() - w);
        counted = 0;
        v.digest = nullptr;
        w = Now();
        if (!utl_WalkPackageFile(f, 307200, &v, &walkErr) || counted != installed) Die("the walk failed");
        undigested.push_back(Now() - w);
        FreshFolder(dir + "\\out");
        volatile LONG done = 0;
        DWORD err = 0;
        double t = Now();
        int ok = utl_FileUnpackHeldCounted(f, "C:", "setup.exe", (dir + "\\out").c_str(), &err, 307200, &done, &expect);
        unpack.push_back(Now() - t);
        if (!ok) Die(("unpack failed, error " + std::to_string(err)).c_str());
        if ((LONGLONG)done != installed) Die("the progress count is not the installed bytes");
        FreshFolder(dir + "\\copy");
        t = Now();
        for (const std::string& n : names)
            if (!CopyFileA((source + "\\" + n).c_str(), (dir + "\\copy\\" + n).c_str(), FALSE)) Die("copy failed");
        copy.push_back(Now() - t);
        std::printf("round %d: unpack %.1f ms, copy %.1f ms\n", round + 1, unpack.back() * 1000, copy.back() * 1000);
    }
    CloseHandle(f);
    const double u = Median(unpack), c = Median(copy), mib = (double)installed / kMiB;
    std::printf("compressed setup: %.1f MiB installed from %.1f MiB stored\n", mib,
                (double)(size.QuadPart - 307200) / kMiB);
    std::printf("compressed unpack median: %.1f ms (%.0f MiB/s of content)\n", u * 1000, mib / u);
    std::printf("copy median:              %.1f ms (%.0f MiB/s)\n", c * 1000, mib / c);
    std::printf("compressed unpack/copy ratio: %.2f\n", u / c);
    std::printf("of the unpack, the walk alone (read, digest, decode; nothing written): %.1f ms\n",
                Median(walked) * 1000);
    std::printf("  the same without the digest: %.1f ms\n", Median(undigested) * 1000);
    std::printf("peak working set: %lu KiB\n", static_cast<unsigned long>(PeakWorkingSet() / 1024));
    utl_DeleteDirTree(dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--memory") return MemoryRun(argv[3], std::strtoul(argv[2], nullptr, 10));
    if (argc >= 4 && std::string(argv[1]) == "--compressed")
        return CompressedRun(argv[2], argv[3], argc > 4 ? argv[4] : "C:\\vbench");
    std::string base = argc > 1 ? argv[1] : "C:\\vbench";
    CreateDirectoryA(base.c_str(), NULL);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    std::string dir = base + "\\speed";
    utl_DeleteDirTree(dir.c_str());
    std::printf("building a 64 MiB package of 4 files...\n");
    std::vector<std::string> names = BuildPackage(dir, 4, 16 * kMiB);

    // The same records without the end record, and closed by an older writer with XXH3-64; the
    // digests a bound setup expects of each.
    DigestValue blake3 = {}, xxh3 = {};
    {
        std::string closed = dir + "\\pkg.vpk", open = dir + "\\open.vpk", old = dir + "\\xxh3.vpk";
        if (!CopyFileA(closed.c_str(), open.c_str(), FALSE)) Die("cannot copy the package");
        HANDLE f = CreateFileA(open.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        LARGE_INTEGER cut;
        cut.QuadPart = -(LONGLONG)kEndRecordLen;
        if (f == INVALID_HANDLE_VALUE || !SetFilePointerEx(f, cut, NULL, FILE_END) || !SetEndOfFile(f))
            Die("cannot cut the end record off");
        LARGE_INTEGER zero = {};
        SetFilePointerEx(f, zero, NULL, FILE_BEGIN);
        PayloadDigest d;
        utl_DigestBegin(&d);
        std::vector<BYTE> buf(kMiB);
        DWORD got = 0;
        while (ReadFile(f, buf.data(), kMiB, &got, NULL) && got) utl_DigestUpdate(&d, buf.data(), got);
        CloseHandle(f);
        utl_DigestValue(&d, kDigestBlake3, &blake3);
        utl_DigestValue(&d, kDigestXxh3, &xxh3);
        if (!CopyFileA(open.c_str(), old.c_str(), FALSE)) Die("cannot copy the package");
        BYTE record[kEndRecordLen];
        DWORD len = utl_EncodeEndRecord(record, &xxh3), wrote = 0;
        f = CreateFileA(old.c_str(), FILE_APPEND_DATA, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (f == INVALID_HANDLE_VALUE || !WriteFile(f, record, len, &wrote, NULL) || wrote != len)
            Die("cannot close the XXH3-64 package");
        CloseHandle(f);
    }
    // Through the held file with the digest expected, as the stub unpacks; counting the bytes for
    // its progress window when done is given.
    auto heldUnpack = [&](const char* name, const DigestValue* expect, volatile LONG* done) {
        HANDLE f = CreateFileA((dir + "\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        DWORD err = 0;
        double t = Now();
        int ok = utl_FileUnpackHeldCounted(f, dir.c_str(), name, (dir + "\\out").c_str(), &err, 0, done, expect);
        t = Now() - t;
        CloseHandle(f);
        if (!ok) Die(("unpack failed, error " + std::to_string(err)).c_str());
        return t;
    };
    std::vector<double> unpack, uncounted, unbound, xxh3only, undigested, copy;
    for (int round = 0; round < 7; ++round) {
        // The first unpack of a round runs on a colder cache: the two compared most closely take
        // turns at it.
        for (int turn = 0; turn < 2; ++turn) {
            FreshFolder(dir + "\\out");
            if ((turn + round) % 2 == 0) {
                volatile LONG done = 0;
                unpack.push_back(heldUnpack("pkg.vpk", &blake3, &done));
                if ((DWORD)done != 64 * kMiB) Die("the progress count is not the payload's size");
            } else {
                uncounted.push_back(heldUnpack("pkg.vpk", &blake3, nullptr));
            }
        }

        FreshFolder(dir + "\\out");
        unbound.push_back(heldUnpack("pkg.vpk", nullptr, nullptr));

        FreshFolder(dir + "\\out");
        xxh3only.push_back(heldUnpack("xxh3.vpk", &xxh3, nullptr));

        FreshFolder(dir + "\\out");
        undigested.push_back(heldUnpack("open.vpk", nullptr, nullptr));

        FreshFolder(dir + "\\copy");
        double t = Now();
        for (const std::string& n : names)
            if (!CopyFileA((dir + "\\src\\" + n).c_str(), (dir + "\\copy\\" + n).c_str(), FALSE)) Die("copy failed");
        copy.push_back(Now() - t);
        std::printf("round %d: unpack %.1f ms, copy %.1f ms\n", round + 1, unpack.back() * 1000, copy.back() * 1000);
    }
    double u = Median(unpack), c = Median(copy);
    std::printf("unpack median: %.1f ms (%.0f MiB/s)\n", u * 1000, 64 / u);
    std::printf("copy median:   %.1f ms (%.0f MiB/s)\n", c * 1000, 64 / c);
    std::printf("unpack/copy ratio: %.2f (as the setup does: BLAKE3-256 checked against its slot, progress counted)\n",
                u / c);
    std::printf("the same without counting for the progress window: %.1f ms (ratio %.2f)\n", Median(uncounted) * 1000,
                Median(uncounted) / c);
    std::printf("unpack of an unbound setup (BLAKE3-256 and XXH3-64): %.1f ms (ratio %.2f)\n", Median(unbound) * 1000,
                Median(unbound) / c);
    std::printf("unpack with XXH3-64 alone (an older package): %.1f ms (ratio %.2f)\n", Median(xxh3only) * 1000,
                Median(xxh3only) / c);
    // Without an end record the walk cannot know there is no digest before the end: both still run.
    std::printf("unpack of the same records without an end record (both digests run): %.1f ms (ratio %.2f)\n",
                Median(undigested) * 1000, Median(undigested) / c);

    // The unpack writes its whole trace in one log session (the day's file opened once): 6 lines
    // for the package, 5 per record and 3 for the end record. What those lines cost here, under a
    // tag of the bench's own, and what they cost one open per line.
    const int lines = 9 + 5 * static_cast<int>(names.size());
    std::vector<double> held, opened;
    for (int round = 0; round < 5; ++round) {
        double t = Now();
        {
            LogSession session;
            for (int i = 0; i < lines; ++i) utl_WriteLog("UtlBench", "unpack_bench: a trace line of typical length = 12345", 0);
        }
        held.push_back(Now() - t);
        t = Now();
        for (int i = 0; i < lines; ++i) utl_WriteLog("UtlBench", "unpack_bench: a trace line of typical length = 12345", 0);
        opened.push_back(Now() - t);
    }
    double l = Median(held);
    std::printf("of the unpack, %d trace lines: %.1f ms (%.1f ms with one open per line); ratio without them: %.2f\n",
                lines, l * 1000, Median(opened) * 1000, (u - l) / c);
    utl_DeleteFilesInDir("c:\\VemloLog", "stp_UtlBench*.log");

    // The work on the bytes themselves, in memory: 64 MiB each, best of 5.
    std::vector<BYTE> bytes(64 * kMiB);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 2654435761u >> 13);
    auto best = [](auto work) {
        double b = 1e9;
        for (int round = 0; round < 5; ++round) {
            double t = Now();
            work();
            b = std::min(b, Now() - t);
        }
        return 64 / b;
    };
    volatile unsigned long long sink = 0;
    auto digest = [&](BYTE algorithm) {
        return best([&] {
            PayloadDigest d;
            core_DigestBegin(&d, algorithm);
            utl_DigestUpdate(&d, bytes.data(), 64 * kMiB);
            DigestValue v;
            utl_DigestValue(&d, algorithm, &v);
            sink = sink + v.bytes[0];
        });
    };
    std::printf("in memory: transform %.0f MiB/s, BLAKE3 %.0f MiB/s, XXH3-64 %.0f MiB/s",
                best([&] { MixBytes(bytes.data(), 64 * kMiB); }), digest(kDigestBlake3), digest(kDigestXxh3));
#if VEMLO_BENCH_ZLIB
    std::printf(", zlib CRC-32 %.0f MiB/s", best([&] { sink = sink + crc32(0, bytes.data(), 64 * kMiB); }));
#endif
    std::printf("\n");
    utl_DeleteDirTree(dir.c_str());

    int rc = RunChild(base, 16);
    if (rc == 0) rc = RunChild(base, 256);
    utl_DeleteDirTree(base.c_str());
    return rc;
}
