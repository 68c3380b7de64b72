// The platform objects that the library made and has not deleted yet, counted by an observer of the
// platform layer. Every test program counts on its main thread from start to end; a test thread that
// wants its own counts makes a GdiCounter of its own, which counts that thread's calls while it lives.
#pragma once

#include "ThreadObserver.h"

#include <unordered_map>
#include <unordered_set>

namespace kivtest {

struct GdiCounts {
    int dcs = 0;
    int bitmaps = 0;
    int pens = 0;
    int brushes = 0;
    int fonts = 0;
    int palettes = 0;
    int screenDCs = 0;  // GetDC without its ReleaseDC yet

    int Total() const noexcept { return dcs + bitmaps + pens + brushes + fonts + palettes + screenDCs; }
    bool operator==(const GdiCounts&) const = default;
};

class GdiCounter final : public ThreadObserver {
public:
    GdiCounter();
    ~GdiCounter() override;
    GdiCounter(const GdiCounter&) = delete;
    GdiCounter& operator=(const GdiCounter&) = delete;

    void Observe(const kiv::platform::Call& call) override;
    // A handle that GDI no longer knows (deleted by its new owner) is not counted, nor the platform's
    // shared 1 x 1 bitmap that it hands out for a bitmap of an empty size.
    GdiCounts Live();

private:
    enum class Kind { DC, Bitmap, Pen, Brush, Font, Palette };
    std::unordered_map<const void*, Kind> live_;
    std::unordered_set<const void*> screenDCs_;
    GdiCounter* previous_;
};

// The counts of the newest counter on the calling thread.
GdiCounts LiveGdiObjects();

}  // namespace kivtest
