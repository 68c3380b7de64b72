// The module beside this program (byte for byte the one in the package, which the test dist_package
// checks) as a security scanner reads it: its PE header and section table. Address space layout
// randomisation and no-execute data, high-entropy addresses in the 64-bit build, no section both
// writable and executable, no debugging sections, and imports from Windows' own DLLs only, so that
// none of the compiler's runtime DLLs (libgcc, libstdc++, libwinpthread, libssp) has to come along.
#include "TestSupport.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kivtest;

namespace {

// The DLLs that every Windows has and that the module may import.
const std::string kSystemDlls[] = {"kernel32.dll", "user32.dll",   "gdi32.dll", "advapi32.dll",
                                   "ole32.dll",    "oleaut32.dll", "msvcrt.dll"};

bool IsSystemDll(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return std::find(std::begin(kSystemDlls), std::end(kSystemDlls), name) != std::end(kSystemDlls);
}

class ShippedModule : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(std::filesystem::path(OcxPath()), std::ios::binary);
        ASSERT_TRUE(in) << "no KIVDRAW.OCX beside this program";
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        ASSERT_TRUE(dos && dos->e_magic == IMAGE_DOS_SIGNATURE);
        nt = At<IMAGE_NT_HEADERS>(static_cast<size_t>(dos->e_lfanew));
        ASSERT_TRUE(nt && nt->Signature == IMAGE_NT_SIGNATURE);
        // The headers of this program's own kind: PE32 in the 32-bit build, PE32+ in the 64-bit one.
        ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR_MAGIC);
        const size_t table = static_cast<size_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                             nt->FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto* section = At<IMAGE_SECTION_HEADER>(table + i * sizeof(IMAGE_SECTION_HEADER));
            ASSERT_TRUE(section);
            sections.push_back(*section);
        }
    }

    template <class T>
    const T* At(size_t offset) const {
        return offset + sizeof(T) <= bytes.size() ? reinterpret_cast<const T*>(bytes.data() + offset) : nullptr;
    }

    // The zero-terminated text at a file offset.
    std::string TextAtOffset(size_t at) const {
        return at < bytes.size() ? std::string(bytes.data() + at, strnlen(bytes.data() + at, bytes.size() - at)) : "";
    }

    // A section's name; names longer than eight characters stand in the COFF string table ("/4"),
    // which follows the symbol table (18 bytes a symbol).
    std::string NameOf(const IMAGE_SECTION_HEADER& section) const {
        const char* field = reinterpret_cast<const char*>(section.Name);
        const std::string name(field, strnlen(field, IMAGE_SIZEOF_SHORT_NAME));
        if (name.size() < 2 || name[0] != '/') return name;
        const size_t strings = nt->FileHeader.PointerToSymbolTable + nt->FileHeader.NumberOfSymbols * 18;
        return TextAtOffset(strings + std::stoul(name.substr(1)));
    }

    // The file offset of a relative virtual address, through the section that holds it.
    size_t OffsetOf(DWORD rva) const {
        for (const auto& section : sections)
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
                return rva - section.VirtualAddress + section.PointerToRawData;
        return bytes.size();
    }


    std::vector<char> bytes;
    const IMAGE_NT_HEADERS* nt = nullptr;
    std::vector<IMAGE_SECTION_HEADER> sections;
};

TEST_F(ShippedModule, RandomisedNonExecutableDataAndRelocatable) {
    const WORD flags = nt->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << std::hex << flags;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << std::hex << flags;
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << std::hex << flags;
    }
    // A randomised base needs the relocations to move the module.
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    EXPECT_GT(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
}

TEST_F(ShippedModule, NoSectionWritableAndExecutableNorDebugging) {
    bool code = false;
    for (const auto& section : sections) {
        const std::string name = NameOf(section);
        SCOPED_TRACE(name);
        const DWORD c = section.Characteristics;
        EXPECT_FALSE((c & IMAGE_SCN_MEM_WRITE) && (c & IMAGE_SCN_MEM_EXECUTE)) << std::hex << c;
        EXPECT_NE(name.rfind(".debug", 0), 0u) << "debugging information belongs in KIVDRAW.OCX.debug";
        code = code || (c & IMAGE_SCN_MEM_EXECUTE);
    }
    EXPECT_TRUE(code) << "a module without code";
    // The module names its symbols file, for debuggers.
    EXPECT_TRUE(std::any_of(sections.begin(), sections.end(),
                            [&](const auto& section) { return NameOf(section) == ".gnu_debuglink"; }));
}

TEST_F(ShippedModule, ImportsOnlyWindowsOwnDlls) {
    // Every DLL is loaded with the module: none is left for later.
    EXPECT_EQ(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> imported;
    for (size_t at = OffsetOf(directory.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(at);
        ASSERT_TRUE(descriptor) << "the import table runs past the end of the file";
        if (descriptor->Name == 0) break;
        imported.push_back(TextAtOffset(OffsetOf(descriptor->Name)));
    }
    EXPECT_FALSE(imported.empty());
    for (const std::string& dll : imported) EXPECT_TRUE(IsSystemDll(dll)) << dll << " is not a DLL of Windows' own";
}

}  // namespace
