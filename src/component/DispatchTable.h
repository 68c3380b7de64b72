// What late binding needs to know of one dual interface, read once from its type information: every
// member by identifier and invocation kind with its parameters in their exact types and its vtable
// slot, and the members' names for look-up without regard to case.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::dispatch {

// The most parameters (the return value not counted) that a described member may have; a call's
// working storage is sized by it.
inline constexpr UINT kMaxParameters = 16;

struct Parameter {
    VARTYPE type = VT_EMPTY;  // as the member takes it, aliases resolved (OLE_COLOR is VT_UI4)
    bool byRef = false;
    bool optional = false;
    // An OLE colour: an argument is converted to a Long and its bits taken, as a Long colour is taken
    // everywhere else, so that a script's -1 (an Integer) reaches the member.
    bool colour = false;
    VARIANT omitted{};  // what an omitted optional argument becomes: its declared default, or zero; of `type`
};

struct Member {
    DISPID id = DISPID_UNKNOWN;
    INVOKEKIND kind = INVOKE_FUNC;
    std::wstring name;
    ULONG_PTR vtableOffset = 0;  // in bytes, from the start of the vtable
    CALLCONV convention = CC_STDCALL;
    UINT count = 0;              // declared parameters, the return value not counted
    VARTYPE result = VT_EMPTY;   // the return value's type (VT_DISPATCH or VT_UNKNOWN for an object); VT_EMPTY: none
    std::array<Parameter, kMaxParameters> parameters{};
};

// True for a value that owns what it holds (VariantClear frees it).
inline bool Owning(VARTYPE vt) noexcept { return vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN; }

// `from` as a value of `parameter`'s type in `out` (empty on entry), converted by the platform.
HRESULT ConvertTo(const Parameter& parameter, const VARIANT& from, VARIANT& out) noexcept;

class Table {
public:
    // Describes the vtable view of a dual interface, and keeps the reference to its type info that it
    // is given for as long as the module is loaded.
    explicit Table(ITypeInfo* vtable) noexcept;
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // False when the interface could not be read or holds a member that late binding cannot call.
    bool Described() const noexcept { return described_; }

    // The member `id` of the kind that `flags` asks for; a method is preferred to a get when both are
    // asked (as a script does for `bm.ItemInt(1)`). nullptr when there is none.
    const Member* Find(DISPID id, WORD flags) const noexcept;

    // IDispatch::GetIDsOfNames: the member's identifier, then the positions of the named parameters.
    HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const noexcept;

    const std::vector<Member>& Members() const noexcept { return members_; }

private:
    // One identifier: its members of each kind (indexes into members_, -1: none) and the names that
    // GetIDsOfNames resolves for it: the member's name, then its parameters' names.
    struct Identifier {
        DISPID id = DISPID_UNKNOWN;
        std::array<int, 4> byKind{-1, -1, -1, -1};  // INVOKE_FUNC, _PROPERTYGET, _PROPERTYPUT, _PROPERTYPUTREF
        std::uint32_t hash = 0;
        std::wstring name;                    // as declared
        std::wstring folded;                  // the name folded to lower case
        std::vector<std::wstring> parameters; // folded to lower case
    };

    bool Describe();
    const Identifier* ByName(const wchar_t* name) const noexcept;

    ITypeInfo* info_;
    bool described_ = false;
    std::vector<Member> members_;
    std::vector<Identifier> identifiers_;  // ordered by identifier
    std::vector<DISPID> ids_;              // identifiers_'s identifiers, in its order, for a compact search
};

}  // namespace kiv::dispatch
