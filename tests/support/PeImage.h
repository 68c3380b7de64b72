// A PE file read as bytes, as a scanner reads it: its headers, section table, and import and export
// directories.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace kivtest {

class PeImage {
public:
    explicit PeImage(const std::wstring& path) {
        std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);  // the path is ASCII here
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        const size_t headers = static_cast<size_t>(dos->e_lfanew);
        const auto* nt = At<IMAGE_NT_HEADERS32>(headers);  // signature and file header: the same in both
        if (!nt || nt->Signature != IMAGE_NT_SIGNATURE) return;
        file_ = nt->FileHeader;
        const size_t optional = headers + offsetof(IMAGE_NT_HEADERS32, OptionalHeader);
        const auto* magic = At<WORD>(optional);
        if (magic && *magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && At<IMAGE_OPTIONAL_HEADER64>(optional)) {
            directories_ = At<IMAGE_OPTIONAL_HEADER64>(optional)->DataDirectory;
            dllCharacteristics_ = At<IMAGE_OPTIONAL_HEADER64>(optional)->DllCharacteristics;
            is64_ = true;
        } else if (magic && *magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && At<IMAGE_OPTIONAL_HEADER32>(optional)) {
            directories_ = At<IMAGE_OPTIONAL_HEADER32>(optional)->DataDirectory;
            dllCharacteristics_ = At<IMAGE_OPTIONAL_HEADER32>(optional)->DllCharacteristics;
        } else {
            return;
        }
        const size_t sections = optional + nt->FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto* section = At<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (!section) return;
            sections_.push_back(*section);
        }
        valid_ = true;
    }

    bool Valid() const { return valid_; }
    bool Is64() const { return is64_; }
    WORD FileCharacteristics() const { return file_.Characteristics; }
    WORD DllCharacteristics() const { return dllCharacteristics_; }
    const IMAGE_DATA_DIRECTORY& Directory(int index) const { return directories_[index]; }
    const std::vector<IMAGE_SECTION_HEADER>& Sections() const { return sections_; }

    // A section's name; a name longer than eight characters stands in the COFF string table ("/4"),
    // which follows the symbol table (18 bytes a symbol).
    std::string NameOf(const IMAGE_SECTION_HEADER& section) const {
        const char* field = reinterpret_cast<const char*>(section.Name);
        const std::string name(field, strnlen(field, IMAGE_SIZEOF_SHORT_NAME));
        if (name.size() < 2 || name[0] != '/') return name;
        size_t at = file_.PointerToSymbolTable + size_t{file_.NumberOfSymbols} * 18 + std::stoul(name.substr(1));
        std::string text;
        for (; at < bytes_.size() && bytes_[at]; ++at) text += bytes_[at];
        return text;
    }

    // The DLLs that the import directory and the delay-load directory name.
    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> dlls;
        if (auto at = Offset(directories_[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress)) {
            for (size_t i = *at;; i += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
                const auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(i);
                if (!d || d->Name == 0) break;
                dlls.push_back(Text(d->Name));
            }
        }
        if (auto at = Offset(directories_[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress)) {
            for (size_t i = *at;; i += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
                const auto* d = At<IMAGE_DELAYLOAD_DESCRIPTOR>(i);
                if (!d || d->DllNameRVA == 0) break;
                dlls.push_back(Text(d->DllNameRVA));
            }
        }
        return dlls;
    }

    std::vector<std::string> ExportedNames() const {
        std::vector<std::string> names;
        auto at = Offset(directories_[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
        const auto* dir = at ? At<IMAGE_EXPORT_DIRECTORY>(*at) : nullptr;
        auto table = dir ? Offset(dir->AddressOfNames) : std::nullopt;
        for (DWORD i = 0; table && i < dir->NumberOfNames; ++i) {
            if (const auto* rva = At<DWORD>(*table + i * sizeof(DWORD))) names.push_back(Text(*rva));
        }
        return names;
    }

    // The PDB that the module's CodeView debug record names; empty when it has none.
    std::string CodeViewPdbName() const {
        struct CodeView {
            DWORD signature;  // "RSDS"
            GUID guid;
            DWORD age;
            char name[1];
        };
        const IMAGE_DATA_DIRECTORY& debug = Directory(IMAGE_DIRECTORY_ENTRY_DEBUG);
        const auto table = Offset(debug.VirtualAddress);
        for (size_t i = 0; table && i < debug.Size / sizeof(IMAGE_DEBUG_DIRECTORY); ++i) {
            const auto* entry = At<IMAGE_DEBUG_DIRECTORY>(*table + i * sizeof(IMAGE_DEBUG_DIRECTORY));
            if (!entry || entry->Type != IMAGE_DEBUG_TYPE_CODEVIEW) continue;
            const auto* record = At<CodeView>(entry->PointerToRawData);
            if (!record || record->signature != 0x53445352) continue;
            const size_t name = entry->PointerToRawData + offsetof(CodeView, name);
            std::string text;
            for (size_t at = name; at < bytes_.size() && bytes_[at]; ++at) text += bytes_[at];
            return text;
        }
        return {};
    }

private:
    template <class T>
    const T* At(size_t offset) const {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return nullptr;
        return reinterpret_cast<const T*>(bytes_.data() + offset);
    }

    // The file offset of a relative virtual address; none for 0 or when no section holds it.
    std::optional<size_t> Offset(DWORD rva) const {
        if (rva == 0) return std::nullopt;
        for (const IMAGE_SECTION_HEADER& s : sections_) {
            const DWORD size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size) {
                return size_t{rva - s.VirtualAddress} + s.PointerToRawData;
            }
        }
        return std::nullopt;
    }

    std::string Text(DWORD rva) const {
        std::string text;
        if (auto at = Offset(rva)) {
            for (size_t i = *at; i < bytes_.size() && bytes_[i]; ++i) text += bytes_[i];
        }
        return text;
    }

    std::vector<char> bytes_;
    IMAGE_FILE_HEADER file_ = {};
    WORD dllCharacteristics_ = 0;
    const IMAGE_DATA_DIRECTORY* directories_ = nullptr;
    std::vector<IMAGE_SECTION_HEADER> sections_;
    bool valid_ = false;
    bool is64_ = false;
};

}  // namespace kivtest
