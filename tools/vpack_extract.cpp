// vpack extract: unpacks a package into a folder, changing nothing there unless the whole package
// came out. A first walk checks every record and the digest and makes sure no name is taken; the
// second writes each record to a temporary beside its final name; only then are they renamed into
// place, a file that --force replaces moved aside first and put back when a later one fails. After
// any failure the folder holds what it held before. Every file and folder below the destination is
// reached without following a link (the *Below functions).
#include <cstdio>
#include <map>

#include "tools/vpack.h"

namespace {

struct Target {
    std::string path, tmp;
    std::string aside;  // the original that --force replaces, until the extraction is done
    bool committed = false;
};

// What an extraction made, undone by its destructor unless it finished.
struct Extraction {
    std::string dest;
    bool force = false;
    bool madeDest = false, done = false;
    std::vector<std::string> madeDirs;          // in the order made
    std::vector<Target> targets;                // one per record
    std::vector<size_t> recordTarget;           // record index (from 1) -> target
    VpackFile file;
    std::string writing;                        // the destination file being written
    std::string flushFailed;                    // the first one that could not be flushed, and why
    std::string what;

    ~Extraction()
    {
        file.Close();
        for (const Target& t : targets) {
            if (!t.tmp.empty()) VpackRemoveBelow(dest, t.tmp);
            if (done) {
                if (!t.aside.empty()) VpackRemoveBelow(dest, t.aside);
                continue;
            }
            if (t.committed) VpackRemoveBelow(dest, t.path);
            // The user's original goes back where it was.
            if (!t.aside.empty()) VpackRenameBelow(dest, t.aside, t.path, false);
        }
        if (done) return;
        for (size_t i = madeDirs.size(); i-- > 0;) VpackRemoveDirBelow(dest, madeDirs[i]);
        if (madeDest) VpackRemoveDir(dest);
    }
};

// Takes a record's name (stored bytes) and its folders into names (key -> name, and whether it is
// a folder): 0, or 165 when the client's file system would take it for a name already there (two
// files, or a file and a folder, whose names differ in letter case at most).
unsigned long TakeName(std::map<std::string, std::pair<std::string, bool>>* names, const std::string& stored,
                       std::string* clash)
{
    VpackLeadByteFn lead = VpackLeadBytes();
    for (size_t i = 0; i <= stored.size(); ++i) {
        uint8_t b = i < stored.size() ? (uint8_t)stored[i] : 0;
        if (lead && b >= 0x80 && lead(b)) {
            ++i;
            continue;
        }
        if (i < stored.size() && b != '\\' && b != '/') continue;
        const bool folder = i < stored.size();
        const std::string name = stored.substr(0, i);
        auto known = names->emplace(VpackNameKey(name), std::make_pair(name, folder));
        if (!known.second && !(folder && known.first->second.second)) {
            *clash = known.first->second.first;
            return 165;
        }
    }
    return 0;
}

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
    std::map<std::string, std::pair<std::string, bool>> names;
    x->recordTarget.assign(records->size() + 1, 0);
    for (size_t i = 0; i < records->size(); ++i) {
        const VpackListed& r = (*records)[i];
        if (r.isEnd) continue;
        std::string clash;
        if (TakeName(&names, r.name, &clash)) {
            x->what = package + ": the records \"" + VpackShownName(clash) + "\" and \"" + VpackShownName(r.name) + "\" would be one file "
                      "on Windows (names that differ in letter case at most, or a file and a folder of that name): "
                      "every client fails with this error; nothing was extracted";
            return 165;
        }
        std::string host;
        if (!VpackHostName(r.name, &host)) {
            x->what = package + ": a record name has characters beyond ASCII: pass --codepage N, the code page "
                                "of the Windows that made the package (936, 1252, ...)";
            return kVpackErrName;
        }
        const std::string path = VpackJoinRecord(x->dest, host);
        for (const std::string& folder : VpackRecordFolders(x->dest, host)) {
            VpackKind kind = VpackKindBelow(x->dest, folder);
            if (kind != kVpackMissing && kind != kVpackDir) {
                x->what = folder + " is there and is no folder (a link is not followed): nothing was extracted";
                return kVpackErrExists;
            }
        }
        VpackKind kind = VpackKindBelow(x->dest, path);
        if (kind != kVpackMissing && !(x->force && kind == kVpackFile)) {
            x->what = !x->force ? path + " exists: nothing was extracted (--force replaces files)"
                                : path + " is there and is no file (a folder or a link): --force replaces only "
                                         "files; nothing was extracted";
            return kVpackErrExists;
        }
        x->recordTarget[i + 1] = x->targets.size();
        x->targets.push_back({path, "", "", false});
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
        if (VpackKindBelow(x->dest, folder) == kVpackDir) continue;
        if (!VpackMakeDirBelow(x->dest, folder)) {
            x->what = folder + ": " + VpackSystemReason();
            return 165;
        }
        x->madeDirs.push_back(folder);
    }
    if (!VpackCreateTempBelow(x->dest, t.path, &t.tmp, &x->file)) {
        x->what = t.path + ": " + VpackSystemReason();
        return 165;
    }
    x->writing = t.path;
    return 0;
}

uint32_t Piece(void* ctx, const uint8_t* data, uint32_t len)
{
    Extraction* x = static_cast<Extraction*>(ctx);
    if (VpackWrite(&x->file, data, len)) return 0;
    x->what = x->writing + ": " + VpackSystemReason();
    return 157;
}

// A record's file is complete: on the disk before it is closed, so that the renames at the end
// put only flushed files in place.
void Finish(void* ctx)
{
    Extraction* x = static_cast<Extraction*>(ctx);
    if (x->file.IsOpen() && !VpackFlush(&x->file) && x->flushFailed.empty())
        x->flushFailed = x->writing + ": " + VpackSystemReason();
    x->file.Close();
}

// Renames a record's temporary to its name. An original that --force replaces is moved aside
// first (to a temporary name of its own), so that a later failure can put it back.
unsigned long PutInPlace(Extraction* x, Target* t)
{
    if (VpackInterrupted()) {
        x->what = t->path + ": interrupted";
        return 165;
    }
    if (x->force && VpackKindBelow(x->dest, t->path) == kVpackFile) {
        VpackFile unused;
        if (!VpackCreateTempBelow(x->dest, t->path, &t->aside, &unused)) {
            t->aside.clear();
            x->what = t->path + ": " + VpackSystemReason();
            return 165;
        }
        unused.Close();
        if (!VpackRenameBelow(x->dest, t->path, t->aside, true)) {
            x->what = t->path + ": it cannot be moved aside (" + VpackSystemReason() + ")";
            VpackRemoveBelow(x->dest, t->aside);
            t->aside.clear();
            return 165;
        }
    }
    if (!VpackRenameBelow(x->dest, t->tmp, t->path, false)) {
        x->what = t->path + ": " + VpackSystemReason();
        return 165;
    }
    t->tmp.clear();
    t->committed = true;
    return 0;
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
    x.what.clear();  // the second walk says what stopped it

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
    if (!x.flushFailed.empty()) return VpackFailWith(157, x.flushFailed);
    for (Target& t : x.targets) {
        if (unsigned long err = PutInPlace(&x, &t)) return VpackFailWith(err, x.what);
    }
    x.done = true;
    if (a.Has("-v")) VpackPrintListing(records, again);
    return 0;
}
