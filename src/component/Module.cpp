#include "Module.h"

#include <atomic>

namespace kiv::module {
namespace {

std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};
bool gProcessEnding = false;  // written only by the loader's detach notification

// The type library is loaded once and kept while the module is loaded; it is a free-threaded object
// of the platform.
struct TypeInfos {
    ITypeLib* library = nullptr;
    TypeInfos() = default;
    TypeInfos(const TypeInfos&) = delete;
    TypeInfos& operator=(const TypeInfos&) = delete;
    ~TypeInfos() {
        if (library && !gProcessEnding) library->Release();
    }
};

TypeInfos& Loaded() {
    static TypeInfos infos;
    static const bool loaded = [] {  // once, whichever apartment asks first
        if (FAILED(::LoadTypeLibEx(Path().c_str(), REGKIND_NONE, &infos.library))) infos.library = nullptr;
        return true;
    }();
    (void)loaded;
    return infos;
}

}  // namespace

void Detached(bool processEnding) noexcept { gProcessEnding = processEnding; }
bool ProcessEnding() noexcept { return gProcessEnding; }

void ObjectCreated() noexcept { ++gObjects; }
void ObjectDestroyed() noexcept { --gObjects; }
long LiveObjects() noexcept { return gObjects.load(); }

void LockServer(bool lock) noexcept {
    if (lock) ++gLocks;
    else --gLocks;
}
long Locks() noexcept { return gLocks.load(); }

HMODULE Handle() noexcept {
    static HMODULE module = [] {
        HMODULE found = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(&gObjects), &found);
        return found;
    }();
    return module;
}

std::wstring Path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(Handle(), path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

ITypeLib* TypeLibrary() noexcept { return Loaded().library; }

ITypeInfo* DispatchTypeInfo(REFIID iid) noexcept {
    ITypeLib* library = TypeLibrary();
    ITypeInfo* info = nullptr;
    if (!library || FAILED(library->GetTypeInfoOfGuid(iid, &info))) return nullptr;
    return info;
}

ITypeInfo* VtableTypeInfo(REFIID iid) noexcept {
    ITypeInfo* dispatch = DispatchTypeInfo(iid);
    if (!dispatch) return nullptr;
    ITypeInfo* vtable = nullptr;
    HREFTYPE ref = 0;
    if (SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) dispatch->GetRefTypeInfo(ref, &vtable);
    if (!vtable) {  // not dual: the view is the vtable
        return dispatch;
    }
    dispatch->Release();
    return vtable;
}

}  // namespace kiv::module
