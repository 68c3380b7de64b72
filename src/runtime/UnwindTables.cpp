// Where the 32-bit unwinder finds the module's unwind tables (_Unwind_Find_FDE).
//
// 32-bit code unwinds through the DWARF tables of the module's .eh_frame section. GCC's start files
// register that section with an unwinder as the module loads: with GCC's shared unwinder
// (libgcc_s_dw2-1.dll) when the process holds it already, else with the module's own, which keeps the
// registered sections in a list under a mutex of GCC's thread layer, whose semaphore is made at the
// first registration and never closed. Neither will do: in the first case the module's own unwinder
// never learns where its tables are, and its first exception ends the process; in the second every
// unload leaves a kernel handle behind. Here the module finds its section itself, in its own image's
// section table, whatever the process holds; registration does nothing; and the unwinder's search is
// this module's own: an index of the section's entries sorted by address, made at the first exception
// and given back at unload. The 64-bit module unwinds through the platform's tables and needs none of
// this.
//
// The section is a sequence of records, each a 32-bit length and that many bytes, ended by a length of
// 0: common information entries (CIE), which say how the addresses of the entries that follow are
// encoded, and frame description entries (FDE), each for one range of code. The names and encodings
// are those of the DWARF and Linux Standard Base exception-frame formats.
#include "Runtime.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using Address = std::uintptr_t;
using Byte = unsigned char;

// DW_EH_PE_*: the low four bits give the format of a value, the next three what it is relative to.
constexpr Byte kOmit = 0xff;
constexpr Byte kFormat = 0x0f;
constexpr Byte kAbsolute = 0x00, kUleb128 = 0x01, kUdata2 = 0x02, kUdata4 = 0x03, kUdata8 = 0x04,
               kSleb128 = 0x09, kSdata2 = 0x0a, kSdata4 = 0x0b, kSdata8 = 0x0c;
constexpr Byte kRelative = 0x70;
constexpr Byte kPcRelative = 0x10, kAligned = 0x50;

template <class T>
T Read(const Byte*& p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof(value));
    p += sizeof(value);
    return value;
}

// A LEB128 number at `p`, which moves past it: seven bits a byte, the lowest first, the sign of a
// signed one in the last byte's bit 6.
Address Leb128(const Byte*& p, bool isSigned) noexcept {
    Address value = 0;
    unsigned shift = 0;
    Byte byte;
    do {
        byte = *p++;
        if (shift < sizeof(Address) * 8) value |= static_cast<Address>(byte & 0x7f) << shift;
        shift += 7;
    } while (byte & 0x80);
    if (isSigned && shift < sizeof(Address) * 8 && (byte & 0x40)) value |= ~Address(0) << shift;
    return value;
}
Address Uleb128(const Byte*& p) noexcept { return Leb128(p, false); }
Address Sleb128(const Byte*& p) noexcept { return Leb128(p, true); }

// A value in `encoding` at `p`, which moves past it. Values relative to the text or data segment have
// no base here, as none is registered for this module.
Address ReadEncoded(Byte encoding, const Byte*& p) noexcept {
    if (encoding == kOmit) return 0;
    if ((encoding & kRelative) == kAligned) {
        const Address at = reinterpret_cast<Address>(p);
        p = reinterpret_cast<const Byte*>((at + sizeof(Address) - 1) & ~(sizeof(Address) - 1));
        return Read<Address>(p);
    }
    const Address base = (encoding & kRelative) == kPcRelative ? reinterpret_cast<Address>(p) : 0;
    Address value = 0;
    switch (encoding & kFormat) {
    case kAbsolute: value = Read<Address>(p); break;
    case kUleb128: value = Uleb128(p); break;
    case kSleb128: value = Sleb128(p); break;
    case kUdata2: value = Read<std::uint16_t>(p); break;
    case kSdata2: value = static_cast<Address>(static_cast<std::intptr_t>(Read<std::int16_t>(p))); break;
    case kUdata4: value = static_cast<Address>(Read<std::uint32_t>(p)); break;
    case kSdata4: value = static_cast<Address>(static_cast<std::intptr_t>(Read<std::int32_t>(p))); break;
    case kUdata8:
    case kSdata8: value = static_cast<Address>(Read<std::uint64_t>(p)); break;
    default: return 0;
    }
    return value ? value + base : 0;
}

// How the addresses of a CIE's entries are encoded: its augmentation's 'R', absolute when it has none.
Byte AddressEncoding(const Byte* cie) noexcept {
    const Byte* p = cie + 8;  // past the length and the CIE's own identifier
    const Byte version = *p++;
    const char* augmentation = reinterpret_cast<const char*>(p);
    p += std::strlen(augmentation) + 1;
    if (augmentation[0] != 'z') return kAbsolute;  // no augmentation data: nothing says otherwise
    Uleb128(p);  // code alignment
    Sleb128(p);  // data alignment
    if (version == 1) ++p;  // the return address register: one byte, later an unsigned LEB128
    else Uleb128(p);
    Uleb128(p);  // the augmentation data's length
    for (const char* letter = augmentation + 1; *letter; ++letter) {
        switch (*letter) {
        case 'R': return *p;
        case 'L': ++p; break;  // the encoding of the language-specific data's address
        case 'P': {            // the personality routine: its encoding, then its address
            const Byte encoding = *p++;
            ReadEncoded(static_cast<Byte>(encoding & 0x7f), p);
            break;
        }
        default: break;  // 'S' and 'B' carry no data
        }
    }
    return kAbsolute;
}

// What the unwinder is given for an entry (struct dwarf_eh_bases): the text and data bases of its
// encodings and the first address of its code.
struct Bases {
    void* text;
    void* data;
    void* function;
};

// The code an FDE describes: [begin, end).
struct Range {
    Address begin;
    Address end;
    const Byte* fde;
};

// The FDE's range; one that starts at 0 describes no code (the linker leaves the entries of code that
// it dropped so).
Range RangeOf(const Byte* fde, Byte encoding) noexcept {
    const Byte* p = fde + 8;
    const Address begin = ReadEncoded(encoding, p);
    const Address length = ReadEncoded(static_cast<Byte>(encoding & kFormat), p);
    return {begin, begin ? begin + length : 0, fde};
}

// The module's .eh_frame section: [begin, end).
struct Section {
    const Byte* begin;
    const Byte* end;
};

// Calls `visit(range)` for every FDE of `section`.
template <class Visit>
void ForEachEntry(Section section, Visit visit) noexcept {
    const Byte* lastCie = nullptr;
    Byte encoding = kAbsolute;
    for (const Byte* record = section.begin; section.end - record >= 8;) {
        const Byte* p = record;
        const std::uint32_t length = Read<std::uint32_t>(p);
        // The end; a 64-bit length, which 32-bit code never has, ends the search as well.
        if (length == 0 || length == 0xffffffff || length > std::uint32_t(section.end - p)) return;
        const Byte* next = p + length;
        if (const std::uint32_t cieDistance = Read<std::uint32_t>(p); cieDistance != 0) {
            // An FDE: its CIE lies that far before the distance itself.
            const Byte* cie = record + 4 - cieDistance;
            if (cie != lastCie) {
                lastCie = cie;
                encoding = AddressEncoding(cie);
            }
            if (const Range range = RangeOf(record, encoding); range.begin != 0) visit(range);
        }
        record = next;
    }
}

// Whether `section` begins as an .eh_frame section does: with a CIE (identifier 0) of version 1 or 3.
bool StartsWithCie(const Byte* begin, const Byte* end) noexcept {
    if (end - begin < 9) return false;
    const Byte* p = begin;
    const std::uint32_t length = Read<std::uint32_t>(p);
    const std::uint32_t id = Read<std::uint32_t>(p);
    return length >= 5 && length <= std::uint32_t(end - begin - 4) && id == 0 && (*p == 1 || *p == 3);
}

// The module's own .eh_frame, from its image's section table. An image keeps eight characters of a
// section's name: lld names it ".eh_fram"; GNU ld, when it links debugging information, writes a long
// name into the file's string table, which is not loaded, and leaves "/<offset>" in the header. Such a
// section is taken when it is loaded data that stays (debugging sections may be discarded) and begins
// with a CIE.
Section OwnSection() noexcept {
    // The image is more than the header that the symbol names: addresses within it are computed as
    // numbers, not as offsets from that object.
    const Address base = reinterpret_cast<Address>(&__ImageBase);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
    const IMAGE_SECTION_HEADER* header = IMAGE_FIRST_SECTION(headers);
    constexpr DWORD kData = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++header) {
        const auto* begin = reinterpret_cast<const Byte*>(base + header->VirtualAddress);
        const Byte* end = begin + header->Misc.VirtualSize;
        const bool named = std::memcmp(header->Name, ".eh_fram", 8) == 0;
        const bool longName = header->Name[0] == '/' && (header->Characteristics & kData) == kData &&
                              !(header->Characteristics & (IMAGE_SCN_MEM_DISCARDABLE | IMAGE_SCN_MEM_EXECUTE));
        if ((named || longName) && StartsWithCie(begin, end)) return {begin, end};
    }
    return {};
}

// The sorted index, made once by the first exception that needs it; when no memory can be had for it,
// a search walks the section instead.
INIT_ONCE gIndexOnce = INIT_ONCE_STATIC_INIT;
Range* gIndex = nullptr;
size_t gIndexSize = 0;

BOOL CALLBACK MakeIndex(INIT_ONCE*, void*, void**) noexcept {
    const Section section = OwnSection();
    size_t count = 0;
    ForEachEntry(section, [&](const Range&) { ++count; });
    auto* index = static_cast<Range*>(::HeapAlloc(::GetProcessHeap(), 0, (count ? count : 1) * sizeof(Range)));
    if (!index) return FALSE;  // a later exception tries again
    size_t filled = 0;
    ForEachEntry(section, [&](const Range& range) { index[filled++] = range; });
    std::sort(index, index + filled, [](const Range& a, const Range& b) { return a.begin < b.begin; });
    gIndex = index;
    gIndexSize = filled;
    return TRUE;
}

// The entry whose code holds `pc`; one with no FDE when none does.
Range Find(Address pc) noexcept {
    Range found = {};
    if (::InitOnceExecuteOnce(&gIndexOnce, &MakeIndex, nullptr, nullptr)) {
        const Range* begin = gIndex;
        const Range* after = std::upper_bound(begin, begin + gIndexSize, pc,
                                              [](Address value, const Range& range) { return value < range.begin; });
        if (after != begin && pc < after[-1].end) found = after[-1];
        return found;
    }
    ForEachEntry(OwnSection(), [&](const Range& range) {
        if (range.begin <= pc && pc < range.end) found = range;
    });
    return found;
}

}  // namespace

namespace kiv::runtime {

void ReleaseUnwindIndex() noexcept {
    if (gIndex) ::HeapFree(::GetProcessHeap(), 0, gIndex);
    gIndex = nullptr;
    gIndexSize = 0;
    gIndexOnce = INIT_ONCE_STATIC_INIT;
}

}  // namespace kiv::runtime

// The start files register the module's section as it loads and take it back as the last destructors
// run. The section is found from the image instead (above), and kept until the module is gone, so
// that a destructor that still throws finds its handler.
extern "C" void __register_frame_info(const void*, void*) noexcept {}
extern "C" void* __deregister_frame_info(const void*) noexcept { return nullptr; }

extern "C" const void* _Unwind_Find_FDE(void* pc, Bases* bases) noexcept {
    const Range found = Find(reinterpret_cast<Address>(pc));
    if (!found.fde) return nullptr;
    bases->text = nullptr;
    bases->data = nullptr;
    bases->function = reinterpret_cast<void*>(found.begin);
    return found.fde;
}
