// vpack's packages over the platform's files: walking them with the reader's rules, writing them
// through a temporary that is put in place only whole, and the payload digest. The same code in
// both builds, so both give the same bytes and error numbers.
#include <cstring>
#include <map>

#include "core/record_name.h"
#include "core/transform.h"
#include "tools/vpack.h"

namespace {

// Content goes through here: large enough that a 1 GiB payload costs a few thousand calls, small
// enough that memory stays flat whatever the payload.
const size_t kStreamBuffer = 1024 * 1024;

uint8_t* StreamBuffer()
{
    static std::vector<uint8_t> buffer(kStreamBuffer);
    return buffer.data();
}

std::string WithReason(const std::string& path) { return path + ": " + VpackSystemReason(); }

// The walker's byte source over an open file.
struct FileSource {
    VpackFile* file;
    CoreByteSource src;
    explicit FileSource(VpackFile* f) : file(f) { src = {Read, Seek, this, 0}; }

    static int32_t Read(void* ctx, uint8_t* buffer, uint32_t len)
    {
        FileSource* s = static_cast<FileSource*>(ctx);
        size_t got = 0;
        if (!VpackRead(s->file, buffer, len, &got)) {
            s->src.lastError = 1;
            return -1;
        }
        return (int32_t)got;
    }
    static int Seek(void* ctx, uint64_t position) { return VpackSeek(static_cast<FileSource*>(ctx)->file, position); }
};

}  // namespace

// ---- The payload digest: the one place vpack computes it and makes the end record ----------

void VpackDigest::Begin() { core_DigestBegin(&state, kDigestBlake3); }

void VpackDigest::Update(const void* data, size_t len) { core_DigestUpdate(&state, data, len); }

DigestValue VpackDigest::Value() const
{
    DigestValue v = {};
    core_DigestValue(&state, kDigestBlake3, &v);
    return v;
}

void VpackEndRecord(const DigestValue& digest, uint8_t* out) { core_EncodeEndRecord(out, &digest); }

// ---- Reading ----------------------------------------------------------------------------------

unsigned long VpackOpenInput(const std::string& path, VpackFile* f, std::string* what)
{
    VpackKind kind = VpackKindOf(path, true);
    if (kind == kVpackMissing) {
        *what = WithReason(path);
        return 152;
    }
    if (kind == kVpackDir) {
        *what = path + ": it is a folder";
        return 152;
    }
    if (!VpackOpenRead(path, f)) {
        *what = WithReason(path);
        return 156;
    }
    return 0;
}

unsigned long VpackWalk(const std::string& path, uint32_t offset, CoreVisitor visitor, std::string* what)
{
    *what = path;
    if (path.size() >= kPackagePathLimit) return 151;
    VpackFile f;
    if (unsigned long err = VpackOpenInput(path, &f, what)) return err;
    uint64_t size = 0;
    int sized = VpackSize(&f, &size) ? 1 : 0;
    uint32_t packageLen = 0, err = 0;
    if (!core_PackageLength(&visitor, sized, size, offset, &packageLen, &err)) {
        *what = !sized ? WithReason(path)
                : size > 0xFFFFFFFFull ? path + ": it is " + std::to_string(size) + " bytes; a package ends at 4294967295"
                                       : path + ": it is " + std::to_string(size) + " bytes, not above the offset " +
                                             std::to_string(offset);
        return err;
    }
    visitor.isLeadByte = VpackLeadBytes();
    if (visitor.piece || visitor.digest) {
        visitor.pieceBuffer = StreamBuffer();
        visitor.pieceSize = (uint32_t)kStreamBuffer;
    }
    FileSource source(&f);
    if (core_WalkPackage(&source.src, offset, packageLen, &visitor, &err)) return 0;
    if (source.src.lastError) *what = WithReason(path);
    return err;
}

VpackListed VpackListedOf(const CoreRecord& record)
{
    VpackListed r = {std::string(record.name, record.nameLen), record.dataLen, record.isEnd != 0};
    r.content = record.contentLen;
    r.compressed = record.compressed != 0;
    return r;
}

unsigned long VpackCheckPackage(const std::string& path, uint32_t offset, PackDigestCheck* check,
                                std::vector<VpackListed>* records, std::string* what)
{
    CoreVisitor v = {};
    v.begin = [](void* ctx, const CoreRecord* record) -> uint32_t {
        auto* out = static_cast<std::vector<VpackListed>*>(ctx);
        if (out) out->push_back(VpackListedOf(*record));
        return 0;
    };
    v.ctx = records;
    v.digest = check;
    unsigned long err = VpackWalk(path, offset, v, what);
    if (err == 0 && check && check->state == kDigestMismatch) err = kErrDigestMismatch;
    return err;
}

// ---- Inputs -----------------------------------------------------------------------------------

unsigned long VpackPlanInputs(const std::vector<std::string>& paths, std::vector<VpackInput>* inputs,
                              std::string* what)
{
    for (const std::string& path : paths) {
        VpackInput in;
        in.path = path;
        std::string dir, name, why;
        *what = path;
        if (!VpackSplitPath(path, &dir, &name)) return 150;
        if (path.size() >= kPackagePathLimit) return 151;
        VpackFile f;
        if (unsigned long err = VpackOpenInput(path, &f, what)) return err;
        if (!VpackSize(&f, &in.size) || !VpackIdOf(path, &in.id)) {
            *what = WithReason(path);
            return 155;
        }
        if (in.size > 0xFFFFFFFFull) {
            *what = path + ": it is " + std::to_string(in.size) + " bytes; a record holds at most 4294967295";
            return 155;
        }
        // What the reader would refuse is refused here, before anything is written, naming the file.
        if (!VpackStoredName(name, &in.stored, &why)) {
            *what = path + ": " + why;
            return kVpackErrName;
        }
        if (in.stored.size() > kPackageMaxNameLen) {
            *what = path + ": the name is " + std::to_string(in.stored.size()) +
                    " bytes long; the package reader takes at most 64";
            return kVpackErrName;
        }
        if (!core_IsSafeRecordName(in.stored.data(), (uint32_t)in.stored.size(), VpackLeadBytes()) ||
            (in.stored.size() == kPackageEndNameLen && std::memcmp(in.stored.data(), kPackageEndName, kPackageEndNameLen) == 0)) {
            *what = path + ": the package reader refuses this name (a device name, a character of <>:\"|?* "
                           "or below 32, or a final dot or blank)";
            return kVpackErrName;
        }
        inputs->push_back(in);
    }
    return 0;
}

std::string VpackNameKey(const std::string& stored)
{
    VpackLeadByteFn lead = VpackLeadBytes();
    std::string key = stored;
    for (size_t i = 0; i < key.size(); ++i) {
        uint8_t b = (uint8_t)key[i];
        if (lead && b >= 0x80 && lead(b)) {
            ++i;  // the trail byte belongs to the character
        } else if (b >= 'A' && b <= 'Z') {
            key[i] = (char)(b - 'A' + 'a');
        } else if (b == '/') {
            key[i] = '\\';
        }
    }
    return key;
}

unsigned long VpackRefuseDuplicates(const std::vector<VpackInput>& inputs, const std::vector<VpackListed>& existing,
                                    std::string* what)
{
    std::map<std::string, std::string> taken;  // key -> the record's name in the package
    for (const VpackListed& r : existing)
        if (!r.isEnd) taken.emplace(VpackNameKey(r.name), r.name);
    std::map<std::string, const VpackInput*> planned;
    for (const VpackInput& in : inputs) {
        const std::string key = VpackNameKey(in.stored);
        auto old = taken.find(key);
        auto twin = planned.find(key);
        if (old == taken.end() && twin == planned.end()) {
            planned.emplace(key, &in);
            continue;
        }
        const std::string clash = old != taken.end() ? "the package's record \"" + old->second + "\""
                                                     : twin->second->path;
        *what = in.path + " and " + clash + " would be one file on Windows (record names that differ in letter "
                "case at most): every client would fail with error 165";
        return kVpackErrName;
    }
    return 0;
}

uint64_t VpackRecordBytes(const std::string& storedName, uint64_t size)
{
    // In 64 bits: Windows' unsigned long has 32, and a record near 4 GiB must not wrap below it.
    return 8 + (uint64_t)storedName.size() + size;
}

unsigned long VpackRefuseSameFile(const std::string& target, const std::vector<std::string>& inputs,
                                  std::string* what)
{
    VpackFileId out;
    if (!VpackIdOf(target, &out)) return 0;  // no such file yet: nothing to compare
    for (const std::string& in : inputs) {
        VpackFileId id;
        if (VpackIdOf(in, &id) && id == out) {
            *what = target + " is the same file as " + in + ": an input is never written over";
            return kVpackErrSameFile;
        }
    }
    return 0;
}

// ---- Writing ----------------------------------------------------------------------------------

VpackOutput::~VpackOutput()
{
    if (!tmp.empty()) {
        file.Close();
        VpackRemoveFile(tmp);
    }
}

unsigned long VpackOutput::Open(const std::string& path, std::string* what)
{
    target = path;
    *what = path;
    if (path.size() >= kPackagePathLimit) return 151;
    if (VpackKindOf(path, true) == kVpackDir) {
        *what = path + ": it is a folder";
        return 156;
    }
    if (!VpackCreateTemp(path, &tmp, &file)) {
        tmp.clear();
        *what = WithReason(path);
        return 156;
    }
    return 0;
}

unsigned long VpackOutput::Put(const void* data, size_t len, std::string* what)
{
    if (VpackWrite(&file, data, len)) return 0;
    *what = WithReason(target);
    return 157;
}

unsigned long VpackOutput::Commit(std::string* what)
{
    if (!VpackCommit(&file, tmp, target, true)) {
        *what = WithReason(target);
        return 157;
    }
    tmp.clear();
    return 0;
}

unsigned long VpackPackageWriter::Put(const void* data, size_t len, std::string* what)
{
    digest.Update(data, len);
    written += len;
    return out->Put(data, len, what);
}

unsigned long VpackPackageWriter::Magic(std::string* what)
{
    uint8_t magic[kPackageMagicLen];
    std::memcpy(magic, kPackageMagic, kPackageMagicLen);
    core_MixBytes(magic, kPackageMagicLen);
    return Put(magic, sizeof magic, what);
}

unsigned long VpackMakeFrame(const VpackInput& in, int level, const std::string& target, VpackFrame* frame,
                             std::string* what, const std::atomic<bool>* stop)
{
    frame->made = false;
    // A few bytes gain nothing a frame's header does not cost.
    if (level <= 0 || in.size < 64) return 0;
    if (level > kVpackProbeAbove) {
        uint64_t probe = 0;
        if (unsigned long err = VpackCompressFile(in, 1, nullptr, &probe, what, stop)) return err;
        if (probe * 100 > in.size * kVpackProbeWorth) return 0;
    }
    if (unsigned long err = frame->spool.Open(target, what)) return err;
    if (unsigned long err = VpackCompressFile(in, level, &frame->spool.file, &frame->len, what, stop)) return err;
    if (frame->len * 100 > in.size * kVpackCompressWorth) return 0;
    if (!VpackSeek(&frame->spool.file, 0)) {
        *what = WithReason(frame->spool.tmp);
        return 156;
    }
    frame->made = true;
    return 0;
}

unsigned long VpackPackageWriter::Record(const VpackInput& in, std::string* what)
{
    VpackFrame frame;
    if (unsigned long err = VpackMakeFrame(in, level, out->target, &frame, what)) return err;
    return Record(in, &frame, what);
}

unsigned long VpackPackageWriter::Record(const VpackInput& in, VpackFrame* frame, std::string* what)
{
    return frame->made ? FrameRecord(in, &frame->spool.file, frame->len, what) : StoredRecord(in, what);
}

unsigned long VpackPackageWriter::FrameRecord(const VpackInput& in, VpackFile* spool, uint64_t frameLen,
                                              std::string* what)
{
    uint8_t head[8 + kPackageMaxNameLen];
    core_EncodeRecordHead(head, in.stored.data(), (uint32_t)in.stored.size(), (uint32_t)frameLen, 1);
    if (unsigned long err = Put(head, 8 + in.stored.size(), what)) return err;
    uint8_t* buffer = StreamBuffer();
    for (uint64_t copied = 0; copied < frameLen;) {
        size_t want = frameLen - copied < kStreamBuffer ? (size_t)(frameLen - copied) : kStreamBuffer, got = 0;
        if (!VpackRead(spool, buffer, want, &got) || got != want) {
            *what = in.path + ": its compressed temporary could not be read back: " + VpackSystemReason();
            return 156;
        }
        core_MixBytes(buffer, (uint32_t)want);
        if (unsigned long err = Put(buffer, want, what)) return err;
        copied += want;
    }
    return 0;
}

unsigned long VpackPackageWriter::StoredRecord(const VpackInput& in, std::string* what)
{
    VpackFile f;
    if (unsigned long err = VpackOpenInput(in.path, &f, what)) return err;
    uint8_t head[8 + kPackageMaxNameLen];
    core_EncodeRecordHead(head, in.stored.data(), (uint32_t)in.stored.size(), (uint32_t)in.size);
    if (unsigned long err = Put(head, 8 + in.stored.size(), what)) return err;
    uint8_t* buffer = StreamBuffer();
    for (uint64_t copied = 0; copied < in.size;) {
        size_t want = in.size - copied < kStreamBuffer ? (size_t)(in.size - copied) : kStreamBuffer, got = 0;
        if (!VpackRead(&f, buffer, want, &got)) {
            *what = WithReason(in.path);
            return 166;
        }
        // A source that ends before the size it had when measured makes no record.
        if (got != want) {
            *what = in.path + ": it changed size while packed";
            return 166;
        }
        core_MixBytes(buffer, (uint32_t)want);
        if (unsigned long err = Put(buffer, want, what)) return err;
        copied += want;
    }
    size_t more = 0;
    if (!VpackRead(&f, buffer, 1, &more)) {
        *what = WithReason(in.path);
        return 166;
    }
    // A source that has grown since it was measured is not what was measured either.
    if (more != 0) {
        *what = in.path + ": it changed size while packed";
        return 166;
    }
    return 0;
}

unsigned long VpackPackageWriter::Copy(const std::string& path, uint64_t len, const DigestValue& expected,
                                       std::string* what)
{
    VpackFile f;
    if (unsigned long err = VpackOpenInput(path, &f, what)) return err;
    uint8_t* buffer = StreamBuffer();
    VpackDigest copied;
    copied.Begin();
    for (uint64_t done = 0; done < len;) {
        size_t want = len - done < kStreamBuffer ? (size_t)(len - done) : kStreamBuffer, got = 0;
        if (!VpackRead(&f, buffer, want, &got) || got != want) {
            *what = path + ": it changed while read";
            return 166;
        }
        copied.Update(buffer, want);
        if (unsigned long err = Put(buffer, want, what)) return err;
        done += want;
    }
    // The bytes copied are the bytes the walk checked, or the package changed in between.
    DigestValue got = copied.Value();
    if (!core_DigestEqual(&got, &expected)) {
        *what = path + ": it changed while read";
        return 166;
    }
    return 0;
}

unsigned long VpackPackageWriter::End(DigestValue* value, std::string* what)
{
    *value = digest.Value();
    uint8_t record[kEndRecordLen];
    VpackEndRecord(*value, record);
    written += sizeof record;
    return out->Put(record, sizeof record, what);
}
