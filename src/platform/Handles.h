// Owners for the platform objects that a member makes and must give back before it returns.
#pragma once

#include "Gdi.h"

#include <utility>

namespace kiv::platform {

// A pen, brush, font, bitmap or palette, deleted when the owner goes.
template <class H>
class GdiObject {
public:
    GdiObject() noexcept = default;
    explicit GdiObject(H handle) noexcept : handle_(handle) {}
    GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~GdiObject() { Reset(); }

    H Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    H Release() noexcept { return std::exchange(handle_, nullptr); }
    void Reset() noexcept {
        if (handle_) {
            try { platform::DeleteObject(std::exchange(handle_, nullptr)); } catch (...) {}
        }
    }

private:
    H handle_ = nullptr;
};

using Pen = GdiObject<HPEN>;
using Brush = GdiObject<HBRUSH>;
using Font = GdiObject<HFONT>;
using Bitmap = GdiObject<HBITMAP>;
using Palette = GdiObject<HPALETTE>;

// A memory device context, deleted when the owner goes.
class MemoryDC {
public:
    MemoryDC() noexcept = default;
    explicit MemoryDC(HDC dc) noexcept : dc_(dc) {}
    MemoryDC(MemoryDC&& other) noexcept : dc_(std::exchange(other.dc_, nullptr)) {}
    MemoryDC& operator=(MemoryDC&& other) noexcept {
        if (this != &other) {
            Reset();
            dc_ = std::exchange(other.dc_, nullptr);
        }
        return *this;
    }
    ~MemoryDC() { Reset(); }

    HDC Get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }
    void Reset() noexcept {
        if (dc_) {
            try { platform::DeleteDC(std::exchange(dc_, nullptr)); } catch (...) {}
        }
    }

private:
    HDC dc_ = nullptr;
};

// The device context of the whole screen, given back when the owner goes.
class ScreenDC {
public:
    ScreenDC() : dc_(platform::GetDC(nullptr)) {}
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    ~ScreenDC() { Reset(); }

    HDC Get() const noexcept { return dc_; }
    void Reset() noexcept {
        if (dc_) {
            try { platform::ReleaseDC(nullptr, std::exchange(dc_, nullptr)); } catch (...) {}
        }
    }

private:
    HDC dc_;
};

// An object selected into a device context; the object it replaced is selected back when the
// owner goes, and is never deleted here.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(platform::SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() { Restore(); }

    // Selects the previous object back; returns what that handed back (the object selected here).
    HGDIOBJ Restore() noexcept {
        HGDIOBJ out = nullptr;
        if (dc_) {
            try { out = platform::SelectObject(std::exchange(dc_, nullptr), previous_); } catch (...) {}
        }
        return out;
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A palette selected into a device context and realised; restoring selects the previous palette
// back the same way (foreground or background) and realises it.
class PaletteSelection {
public:
    PaletteSelection(HDC dc, HPALETTE palette, BOOL forceBackground)
        : dc_(dc), force_(forceBackground), previous_(platform::SelectPalette(dc, palette, forceBackground)) {
        platform::RealizePalette(dc);
    }
    PaletteSelection(const PaletteSelection&) = delete;
    PaletteSelection& operator=(const PaletteSelection&) = delete;
    ~PaletteSelection() { Restore(); }

    HPALETTE Restore(bool realise = true) noexcept {
        HPALETTE out = nullptr;
        if (dc_) {
            HDC dc = std::exchange(dc_, nullptr);
            try {
                out = platform::SelectPalette(dc, previous_, force_);
                if (realise) platform::RealizePalette(dc);
            } catch (...) {}
        }
        return out;
    }

private:
    HDC dc_;
    BOOL force_;
    HPALETTE previous_;
};

}  // namespace kiv::platform
