// Move-only owners of Win32 handles: every handle a function opens is closed on every path.
#pragma once
#include <windows.h>

// One holder template, one traits type per kind of handle. Close() is safe to call twice.
template <typename Traits>
class Holder {
public:
    using Type = typename Traits::Type;
    Holder() noexcept : h_(Traits::Invalid()) {}
    explicit Holder(Type h) noexcept : h_(h) {}
    ~Holder() { Close(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    Holder(Holder&& o) noexcept : h_(o.Release()) {}
    Holder& operator=(Holder&& o) noexcept {
        if (this != &o) { Close(); h_ = o.Release(); }
        return *this;
    }
    Type Get() const noexcept { return h_; }
    bool Valid() const noexcept { return h_ != Traits::Invalid(); }
    // Hands the handle over to the caller, who closes it from now on.
    Type Release() noexcept { Type h = h_; h_ = Traits::Invalid(); return h; }
    void Reset(Type h) noexcept { Close(); h_ = h; }
    void Close() noexcept {
        if (h_ != Traits::Invalid()) { Traits::Close(h_); h_ = Traits::Invalid(); }
    }
private:
    Type h_;
};

struct FileTraits {  // CreateFile, CreateToolhelp32Snapshot
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct KernelTraits {  // events, processes, threads, tokens
    using Type = HANDLE;
    static Type Invalid() { return NULL; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct KeyTraits {
    using Type = HKEY;
    static Type Invalid() { return NULL; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return NULL; }
    static void Close(Type h) { FreeLibrary(h); }
};
struct HeapTraits {  // HeapAlloc(GetProcessHeap(), ...)
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { HeapFree(GetProcessHeap(), 0, p); }
};

using FileHandle = Holder<FileTraits>;
using KernelHandle = Holder<KernelTraits>;
using FindHandle = Holder<FindTraits>;
using KeyHandle = Holder<KeyTraits>;
using ModuleHandle = Holder<ModuleTraits>;
using HeapBlock = Holder<HeapTraits>;
