// The descriptions that an ITypeInfo lends out, handed back to it when their holder goes.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace kiv {

class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info) noexcept : info_(info) {
        if (FAILED(info->GetTypeAttr(&attr_))) attr_ = nullptr;
    }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    ~TypeAttr() { if (attr_) info_->ReleaseTypeAttr(attr_); }
    const TYPEATTR* operator->() const noexcept { return attr_; }
    explicit operator bool() const noexcept { return attr_ != nullptr; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

class FuncDesc {
public:
    FuncDesc(ITypeInfo* info, UINT index) noexcept : info_(info) {
        if (FAILED(info->GetFuncDesc(index, &desc_))) desc_ = nullptr;
    }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    ~FuncDesc() { if (desc_) info_->ReleaseFuncDesc(desc_); }
    const FUNCDESC* operator->() const noexcept { return desc_; }
    explicit operator bool() const noexcept { return desc_ != nullptr; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

}  // namespace kiv
