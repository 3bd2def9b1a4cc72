// vpack on Windows: the library's own writer, reader and stored-format functions, so vpack makes
// and checks packages exactly as the setup reads them, with the library's traces.
#include <windows.h>

#include "base/files.h"
#include "custom/custom.h"
#include "guard/guard.h"
#include "package/package.h"
#include "tools/vpack_io.h"

bool VpackSplitPath(const std::string& path, std::string* dir, std::string* name)
{
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        // A double-byte character's trail byte may be 0x5C: no separator.
        if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/') cut = i;
    }
    if (cut == std::string::npos) {
        bool drive = path.size() >= 2 && path[1] == ':';
        *dir = drive ? path.substr(0, 2) + "." : ".";
        *name = drive ? path.substr(2) : path;
    } else {
        *dir = path.substr(0, cut);
        *name = path.substr(cut + 1);
    }
    return !name->empty();
}

unsigned long VpackPackFile(const std::string& package, const std::string& file, bool add)
{
    std::string pkgDir, pkgName, dir, name;
    VpackSplitPath(package, &pkgDir, &pkgName);
    VpackSplitPath(file, &dir, &name);
    DWORD err = 0;
    if (utl_FilePack(dir.c_str(), name.c_str(), pkgDir.c_str(), pkgName.c_str(), &err, add ? 1 : 0)) return 0;
    return err;
}

unsigned long VpackClosePackage(const std::string& package)
{
    std::string dir, name;
    VpackSplitPath(package, &dir, &name);
    DWORD err = 0;
    return utl_ClosePackage(dir.c_str(), name.c_str(), &err) ? 0 : err;
}

unsigned long VpackUnpack(const std::string& path, const std::string& dst, unsigned long offset)
{
    std::string dir, name;
    VpackSplitPath(path, &dir, &name);
    DWORD err = 0;
    return utl_FileUnpack(dir.c_str(), name.c_str(), dst.c_str(), &err, offset) ? 0 : err;
}

unsigned long VpackCheckPackage(const std::string& path, unsigned long offset, PackDigestCheck* check,
                                std::vector<VpackListed>* records)
{
    if (path.size() >= MAX_PATH) return 151;
    if (!utl_FileExists(path.c_str())) return 152;
    PackVisitor v = {};
    v.begin = [](void* ctx, const PackRecord* record) -> DWORD {
        auto* out = static_cast<std::vector<VpackListed>*>(ctx);
        if (out && !record->isEnd) out->push_back({record->name, record->dataLen});
        return 0;
    };
    v.pieceSize = kUnpackPiece;
    v.ctx = records;
    v.digest = check;
    DWORD err = 0;
    return utl_WalkPackage(path.c_str(), offset, &v, &err) ? 0 : err;
}

bool VpackDirExists(const std::string& path) { return utl_DirExists(path.c_str()) != 0; }

bool VpackMakeDir(const std::string& path) { return CreateDirectoryA(path.c_str(), NULL) != 0; }

bool VpackReplaceFile(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void VpackRemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

int VpackEncryptPwd(const std::string& password, std::string* text)
{
    std::string out(password.size() * 2 + 32, '\0');
    int rc = utl_EncryptPwd(&out[0], (int)out.size(), password.data(), (int)password.size());
    if (rc == PWD_OK) *text = out.c_str();
    return rc;
}

int VpackDecryptPwd(const std::string& text, std::string* password)
{
    int count = (int)text.size() + 8;
    std::string out((size_t)count, '\0');
    int rc = utl_DecryptPwd(&out[0], &count, text.c_str());
    if (rc == PWD_OK) *password = out.substr(0, (size_t)count);
    return rc;
}

unsigned long VpackMakeVrf(const std::string& ini, const std::string& vrf, bool namedPair)
{
    DWORD code = 0;
    return utl_MakeVrfFile(ini.c_str(), vrf.c_str(), namedPair ? 1 : 0, &code) ? 0 : code;
}

bool VpackVerifyVrf(const std::string& ini, const std::string& vrf, bool namedPair)
{
    return utl_VerifyVrfFile(ini.c_str(), vrf.c_str(), namedPair ? 1 : 0) != 0;
}

bool VpackMd5File(const std::string& path, unsigned char* digest)
{
    return utl_Md5File(digest, 16, path.c_str()) != 0;
}
