// Persistence. The framework stores one small record for a control: a tag that marks it as this
// framework's, its format version, and the extent in HIMETRIC, as control frameworks store a
// control's extent. In a document's storage the record is the stream "Contents"; in a buffer it is
// the buffer's first bytes. Streams keep what earlier versions of the module wrote there, which is
// nothing: those versions do not read a record back, and a container that stores more after the
// control in one stream would find it misplaced. Every load reads an empty stream as a new control.
//
// A record that is cut short, not this framework's or of a later format version is refused with
// its own status, before anything is changed: the control is then as it was and can still be
// started with InitNew. The one exception is a stream, which a container may share among its
// controls: bytes there that do not begin as a record of this framework's belong to whatever the
// container stored next, since this version writes nothing to a stream; the control starts new and
// leaves them where they are, as earlier versions did.
#include "ControlFramework.h"

#include "../../component/Boundary.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace kiv::host {
namespace {

constexpr ULONG kRecordSize = 16;
constexpr BYTE kTag[4] = {'K', 'H', 'C', 'R'};
constexpr DWORD kVersion = 1;
constexpr wchar_t kContents[] = L"Contents";

using Record = std::array<BYTE, kRecordSize>;

// Each field is a 32-bit integer, least significant byte first.
void Put(BYTE* at, DWORD value) noexcept {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}
DWORD Get(const BYTE* at) noexcept {
    DWORD value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

Record Written(const SIZEL& extent) noexcept {
    Record record = {};
    std::memcpy(record.data(), kTag, sizeof(kTag));
    Put(record.data() + 4, kVersion);
    Put(record.data() + 8, static_cast<DWORD>(extent.cx));
    Put(record.data() + 12, static_cast<DWORD>(extent.cy));
    return record;
}

// Whether the bytes begin as a record of this framework's does, as far as there are any.
bool Ours(const BYTE* bytes, ULONG count) noexcept {
    return std::memcmp(bytes, kTag, std::min<size_t>(count, sizeof(kTag))) == 0;
}

// The `count` bytes that were there (at most a record's): nothing, as earlier versions stored the
// control, or a record with its extent.
HRESULT Read(const BYTE* bytes, ULONG count, std::optional<SIZEL>& extent) noexcept {
    extent.reset();
    if (count == 0) return S_OK;
    if (!Ours(bytes, count)) return E_FAIL;  // someone else's
    if (count >= 8 && Get(bytes + 4) > kVersion) return STG_E_OLDDLL;  // written by a later version
    if (count < kRecordSize) return STG_E_READFAULT;                    // cut short
    if (Get(bytes + 4) != kVersion) return E_FAIL;                       // no version of this framework's
    extent = SIZEL{static_cast<LONG>(Get(bytes + 8)), static_cast<LONG>(Get(bytes + 12))};
    return S_OK;
}

// As much of a record as the stream holds, and what it says. A record that is refused leaves the
// stream where it was, for a container that reads on after a failed control; so do the bytes of
// another in a `shared` stream.
HRESULT Read(IStream* stream, std::optional<SIZEL>& extent, bool shared) noexcept {
    Record record = {};
    ULONG count = 0;
    ULARGE_INTEGER start = {};
    const bool known = SUCCEEDED(stream->Seek({}, STREAM_SEEK_CUR, &start));
    HRESULT status = S_OK;
    while (SUCCEEDED(status) && count < kRecordSize) {
        ULONG read = 0;
        status = stream->Read(record.data() + count, kRecordSize - count, &read);
        if (read == 0) break;
        count += read;
    }
    const bool others = shared && count > 0 && !Ours(record.data(), count);
    if (SUCCEEDED(status) && !others) status = Read(record.data(), count, extent);
    if ((FAILED(status) || others) && known) {
        LARGE_INTEGER back = {};
        back.QuadPart = static_cast<LONGLONG>(start.QuadPart);
        stream->Seek(back, STREAM_SEEK_SET, nullptr);
    }
    return status;
}

}  // namespace

STDMETHODIMP ControlFramework::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = class_.clsid;
    return S_OK;
}

STDMETHODIMP ControlFramework::IsDirty() { return S_FALSE; }  // nothing changes what the record says

// The control started before any of these calls (when the class object made it), so InitNew
// changes nothing, as often as a container calls it.
STDMETHODIMP ControlFramework::InitNew() { return S_OK; }

// IPersistStreamInit, IPersistStream

STDMETHODIMP ControlFramework::Load(LPSTREAM stream) {
    if (!stream) return E_POINTER;
    std::optional<SIZEL> extent;
    if (HRESULT status = Read(stream, extent, true); FAILED(status)) return status;
    detail::CallReference<IUnknown> hold(outer_);
    if (extent) Restore(*extent);
    return S_OK;
}

STDMETHODIMP ControlFramework::Save(LPSTREAM stream, BOOL) { return stream ? S_OK : E_POINTER; }

STDMETHODIMP ControlFramework::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

// IPersistStorage: the container leads the control through the storage states, from InitNew or
// Load on: it takes the storage away (HandsOffStorage) or has the control write to it (Save), and
// then hands it back or gives a new one (SaveCompleted). The control writes only in between. It
// reads its record once, at Load, and writes it whole at every Save, so it keeps no storage between
// the calls.

STDMETHODIMP ControlFramework::InitNew(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (storageState_ != StorageState::Uninitialized) return CO_E_ALREADYINITIALIZED;
    storageState_ = StorageState::Normal;
    return S_OK;
}

STDMETHODIMP ControlFramework::Load(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (storageState_ != StorageState::Uninitialized) return CO_E_ALREADYINITIALIZED;
    std::optional<SIZEL> extent;
    ComPtr<IStream> contents;
    HRESULT status = storage->OpenStream(kContents, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.Put());
    if (status != STG_E_FILENOTFOUND) {  // a storage without the record holds a new control
        if (SUCCEEDED(status)) status = Read(contents.Get(), extent, false);
        if (FAILED(status)) return status;
    }
    detail::CallReference<IUnknown> hold(outer_);
    storageState_ = StorageState::Normal;
    if (extent) Restore(*extent);
    return S_OK;
}

STDMETHODIMP ControlFramework::Save(IStorage* storage, BOOL) {
    if (!storage) return E_POINTER;
    if (storageState_ != StorageState::Normal) return E_UNEXPECTED;
    ComPtr<IStream> contents;
    HRESULT status =
        storage->CreateStream(kContents, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, contents.Put());
    if (FAILED(status)) return status;
    const Record record = Written(ExtentHimetric());
    ULONG written = 0;
    status = contents->Write(record.data(), kRecordSize, &written);
    if (FAILED(status)) return status;
    if (written != kRecordSize) return STG_E_WRITEFAULT;
    storageState_ = StorageState::NoScribble;
    return S_OK;
}

STDMETHODIMP ControlFramework::SaveCompleted(IStorage* storage) {
    const bool saved = storageState_ == StorageState::NoScribble || storageState_ == StorageState::HandsOffAfterSave;
    switch (storageState_) {
    case StorageState::Uninitialized:
    case StorageState::Normal:
        return E_UNEXPECTED;
    case StorageState::HandsOffFromNormal:
    case StorageState::HandsOffAfterSave:
        if (!storage) return E_INVALIDARG;  // it gave the old one up
        break;
    case StorageState::NoScribble:
        break;
    }
    detail::CallReference<IUnknown> hold(outer_);
    storageState_ = StorageState::Normal;
    if (saved && oleAdvise_) oleAdvise_->SendOnSave();
    return S_OK;
}

STDMETHODIMP ControlFramework::HandsOffStorage() {
    if (storageState_ == StorageState::Normal) storageState_ = StorageState::HandsOffFromNormal;
    else if (storageState_ == StorageState::NoScribble) storageState_ = StorageState::HandsOffAfterSave;
    else return E_UNEXPECTED;
    return S_OK;
}

// IPersistMemory: the record in the buffer's first bytes.

STDMETHODIMP ControlFramework::Load(LPVOID memory, ULONG size) {
    if (!memory) return E_POINTER;
    std::optional<SIZEL> extent;
    if (HRESULT status = Read(static_cast<const BYTE*>(memory), std::min(size, kRecordSize), extent); FAILED(status))
        return status;
    detail::CallReference<IUnknown> hold(outer_);
    if (extent) Restore(*extent);
    return S_OK;
}

STDMETHODIMP ControlFramework::Save(LPVOID memory, BOOL, ULONG size) {
    if (!memory) return E_POINTER;
    if (size < kRecordSize) return STG_E_MEDIUMFULL;
    const Record record = Written(ExtentHimetric());
    std::memcpy(memory, record.data(), kRecordSize);
    return S_OK;
}

STDMETHODIMP ControlFramework::GetSizeMax(ULONG* size) {
    if (!size) return E_POINTER;
    *size = kRecordSize;
    return S_OK;
}

// IPersistPropertyBag: a bag holds no record; the control has no properties to put in it.

STDMETHODIMP ControlFramework::Load(IPropertyBag* bag, IErrorLog*) { return bag ? S_OK : E_POINTER; }

STDMETHODIMP ControlFramework::Save(IPropertyBag* bag, BOOL, BOOL) { return bag ? S_OK : E_POINTER; }

}  // namespace kiv::host
