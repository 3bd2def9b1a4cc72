// vpack extract: unpacks a package into a folder, changing nothing there unless the whole package
// came out. A first walk checks every record and the digest and makes sure no name is taken; the
// second writes each record to a temporary beside its final name; only then are they renamed into
// place. After any failure the folder holds what it held before.
#include <cstdio>
#include <map>

#include "tools/vpack.h"

namespace {

struct Target {
    std::string path, tmp;
    bool committed = false;
};

// What an extraction made, undone by its destructor unless it finished.
struct Extraction {
    std::string dest;
    bool force = false;
    bool madeDest = false, done = false;
    std::vector<std::string> madeDirs;          // in the order made
    std::vector<Target> targets;                // one per destination file
    std::map<std::string, size_t> byPath;       // a later record of the same name wins
    std::vector<size_t> recordTarget;           // record index (from 1) -> target
    VpackFile file;
    bool flushFailed = false;
    std::string what;

    ~Extraction()
    {
        file.Close();
        if (done) return;
        for (const Target& t : targets) {
            if (!t.tmp.empty()) VpackRemoveFile(t.tmp);
            if (t.committed) VpackRemoveFile(t.path);
        }
        for (size_t i = madeDirs.size(); i-- > 0;) VpackRemoveDir(madeDirs[i]);
        if (madeDest) VpackRemoveDir(dest);
    }
};

// First walk: every record's destination, with nothing written. 0 or the reason to stop.
unsigned long Plan(Extraction* x, const std::string& package, uint32_t offset, PackDigestCheck* check,
                   std::vector<VpackListed>* records)
{
    CoreVisitor v = {};
    v.begin = [](void* ctx, const CoreRecord* record) -> uint32_t {
        static_cast<std::vector<VpackListed>*>(ctx)->push_back(VpackListedOf(*record));
        return 0;
    };
    v.ctx = records;
    v.dstLen = (uint32_t)x->dest.size();
    v.digest = check;
    if (unsigned long err = VpackWalk(package, offset, v, &x->what)) {
        if (err == kErrDigestMismatch) x->what += ": " + VpackDigestText(*check);
        return err;
    }
    std::map<std::string, bool> folderPlanned;
    x->recordTarget.assign(records->size() + 1, 0);
    for (size_t i = 0; i < records->size(); ++i) {
        const VpackListed& r = (*records)[i];
        if (r.isEnd) continue;
        std::string host;
        if (!VpackHostName(r.name, &host)) {
            x->what = package + ": a record name has characters beyond ASCII: pass --codepage N, the code page "
                                "of the Windows that made the package (936, 1252, ...)";
            return kVpackErrName;
        }
        const std::string path = VpackJoinRecord(x->dest, host);
        for (const std::string& folder : VpackRecordFolders(x->dest, host)) {
            VpackKind kind = VpackKindOf(folder, false);
            if (kind != kVpackMissing && kind != kVpackDir) {
                x->what = folder + " is there and is no folder: nothing was extracted";
                return kVpackErrExists;
            }
        }
        auto known = x->byPath.find(path);
        if (known == x->byPath.end()) {
            VpackKind kind = VpackKindOf(path, false);
            if (kind != kVpackMissing && !(x->force && kind == kVpackFile)) {
                x->what = path + " exists: nothing was extracted (--force replaces files)";
                return kVpackErrExists;
            }
            known = x->byPath.emplace(path, x->targets.size()).first;
            x->targets.push_back({path, "", false});
        }
        x->recordTarget[i + 1] = known->second;
    }
    return 0;
}

uint32_t Begin(void* ctx, const CoreRecord* record)
{
    Extraction* x = static_cast<Extraction*>(ctx);
    if (record->isEnd) return 0;
    if (record->index >= x->recordTarget.size()) {
        x->what = "the package changed while read";
        return 166;
    }
    Target& t = x->targets[x->recordTarget[record->index]];
    std::string host;
    VpackHostName(std::string(record->name, record->nameLen), &host);
    for (const std::string& folder : VpackRecordFolders(x->dest, host)) {
        if (VpackKindOf(folder, false) == kVpackDir) continue;
        if (!VpackMakeDir(folder)) {
            x->what = folder + ": " + VpackSystemReason();
            return 165;
        }
        x->madeDirs.push_back(folder);
    }
    if (!t.tmp.empty()) VpackRemoveFile(t.tmp);  // an earlier record of the same name
    t.tmp.clear();
    if (!VpackCreateTemp(t.path, &t.tmp, &x->file)) {
        x->what = t.path + ": " + VpackSystemReason();
        return 165;
    }
    return 0;
}

uint32_t Piece(void* ctx, const uint8_t* data, uint32_t len)
{
    Extraction* x = static_cast<Extraction*>(ctx);
    if (VpackWrite(&x->file, data, len)) return 0;
    x->what = VpackSystemReason();
    return 157;
}

// A record's file is complete: on the disk before it is closed, so that the renames at the end
// put only flushed files in place.
void Finish(void* ctx)
{
    Extraction* x = static_cast<Extraction*>(ctx);
    if (x->file.IsOpen() && !VpackFlush(&x->file)) x->flushFailed = true;
    x->file.Close();
}

}  // namespace

VPACK_COMMAND(extract, 2, "extract", "vpack extract PACKAGE DIR [--offset N] [--codepage N] [--force] [-v]",
              "unpack the package into DIR (made when missing). A name that exists in DIR is refused "
              "(--force replaces files); after any failure DIR is as it was. -v lists what came out")
{
    static const char* const kFlags[] = {"-v", "--force", nullptr};
    static const char* const kValued[] = {"--offset", "--codepage", nullptr};
    VpackArgs a;
    if (!VpackParse("extract", argc, argv, kFlags, kValued, &a)) return 2;
    if (a.pos.size() != 2) return VpackUsage("extract");
    uint32_t offset = 0;
    if (int rc = VpackPackageOffset("extract", a, &offset)) return rc;
    if (int rc = VpackApplyCodepage("extract", a)) return rc;
    const std::string& package = a.pos[0];

    Extraction x;
    x.dest = a.pos[1];
    x.force = a.Has("--force");
    VpackKind destKind = VpackKindOf(x.dest, true);
    if (destKind != kVpackMissing && destKind != kVpackDir) return VpackFailWith(158, x.dest + ": it is no folder");
    PackDigestCheck check = {};
    std::vector<VpackListed> records;
    if (unsigned long err = Plan(&x, package, offset, &check, &records)) return VpackFailWith(err, x.what);

    if (destKind == kVpackMissing) {
        if (!VpackMakeDir(x.dest)) return VpackFailWith(158, x.dest + ": " + VpackSystemReason());
        x.madeDest = true;
    }
    CoreVisitor v = {};
    v.begin = Begin;
    v.piece = Piece;
    v.finish = Finish;
    v.ctx = &x;
    v.dstLen = (uint32_t)x.dest.size();
    PackDigestCheck again = {};
    v.digest = &again;
    std::string what;
    if (unsigned long err = VpackWalk(package, offset, v, &what)) {
        if (x.what.empty() || err == kErrDigestMismatch) x.what = what;
        return VpackFailWith(err, x.what);
    }
    x.file.Close();
    if (x.flushFailed) return VpackFailWith(157, x.dest + ": " + VpackSystemReason());
    for (Target& t : x.targets) {
        if (!VpackCommit(&x.file, t.tmp, t.path, x.force)) return VpackFailWith(165, t.path + ": " + VpackSystemReason());
        t.tmp.clear();
        t.committed = true;
    }
    x.done = true;
    if (a.Has("-v")) VpackPrintListing(records, again);
    return 0;
}
