// registry_link.exe HKLM|HKCU KEY TARGET: makes KEY, below the root and in the 64-bit view, a
// symbolic link to TARGET, a path of the registry's own (\REGISTRY\MACHINE\..., \REGISTRY\USER\...):
// the kind of link through which Wine shares a key between the 32-bit and the 64-bit view. The install
// test shares with it the keys that Windows shares and Wine does not. Exit code 0 on success.
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    struct Close {
        void operator()(HKEY key) const { ::RegCloseKey(key); }
    };
    const std::wstring target = argv[3];
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(std::wstring(argv[1]) == L"HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, argv[2], 0,
                          nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK | KEY_WOW64_64KEY, nullptr,
                          &created, &disposition) != ERROR_SUCCESS)
        return 1;
    const std::unique_ptr<std::remove_pointer_t<HKEY>, Close> key(created);
    return disposition == REG_CREATED_NEW_KEY &&
                   ::RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                    reinterpret_cast<const BYTE*>(target.data()),
                                    static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS
               ? 0
               : 1;
}
