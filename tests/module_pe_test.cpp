// The module beside this program (byte for byte the one in the package, which the test dist_package
// checks) as a security scanner reads its PE header and section table: address space layout
// randomisation and no-execute data, high-entropy addresses in the 64-bit build, no section both
// writable and executable, and no debugging sections. Its imports (Windows' own DLLs only) are checked
// with its exports by the registration test.
#include "PeImage.h"
#include "TestSupport.h"

using namespace kivtest;

namespace {

TEST(ShippedModule, RandomisedNonExecutableDataAndRelocatable) {
    const PeImage image(OcxPath());
    ASSERT_TRUE(image.Valid());
    const WORD flags = image.DllCharacteristics();
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << std::hex << flags;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << std::hex << flags;
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << std::hex << flags;
    }
    // A randomised base needs the relocations to move the module.
    EXPECT_FALSE(image.FileCharacteristics() & IMAGE_FILE_RELOCS_STRIPPED);
    EXPECT_GT(image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u);
    // Every DLL is loaded with the module: none is left for later.
    EXPECT_EQ(image.Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).Size, 0u);
}

TEST(ShippedModule, NoSectionWritableAndExecutableNorDebugging) {
    const PeImage image(OcxPath());
    ASSERT_TRUE(image.Valid());
    bool code = false, debuglink = false;
    for (const IMAGE_SECTION_HEADER& section : image.Sections()) {
        const std::string name = image.NameOf(section);
        SCOPED_TRACE(name);
        const DWORD c = section.Characteristics;
        EXPECT_FALSE((c & IMAGE_SCN_MEM_WRITE) && (c & IMAGE_SCN_MEM_EXECUTE)) << std::hex << c;
        EXPECT_NE(name.rfind(".debug", 0), 0u) << "debugging information belongs in the symbols file";
        code = code || (c & IMAGE_SCN_MEM_EXECUTE);
        debuglink = debuglink || name == ".gnu_debuglink";
    }
    EXPECT_TRUE(code) << "a module without code";
    // GCC's module names its DWARF file; clang's names its PDB, which the test release_module_pdb
    // matches to it.
    EXPECT_TRUE(debuglink || image.CodeViewPdbName() == "KIVDRAW.pdb")
        << "the module names its symbols file, for debuggers";
}

}  // namespace
