// What the drawing and text tests share: one surface of a fresh control per test, its pixels read
// through GDI, and ways to check which platform objects a member made, selected and gave back.
#pragma once

#include "TestSupport.h"

#include <oleauto.h>

#include <string>
#include <vector>

namespace kivtest {

// The surface's pixels, row after row, as GetPixel reads them.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> values;

    COLORREF At(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
};

inline Pixels ReadPixels(HDC dc, int width, int height) {
    Pixels out{width, height, {}};
    out.values.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.values.push_back(::GetPixel(dc, x, y));
    return out;
}

// A BSTR for the duration of a call.
class Text {
public:
    explicit Text(const std::wstring& text)
        : bstr_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Text() { ::SysFreeString(bstr_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR* Ref() { return &bstr_; }

private:
    BSTR bstr_;
};

// A fixture with one surface of the given size, cleared to a colour that no test draws in.
class SurfaceTest : public ComTest {
protected:
    static constexpr short kWidth = 40;
    static constexpr short kHeight = 30;
    static constexpr COLORREF kBackground = RGB(0x12, 0x34, 0x56);

    void SetUp() override {
        ComTest::SetUp();
        surface = NewSurface(L"s", kWidth, kHeight);
        ASSERT_TRUE(surface);
        dc = DcOf(surface.Get());
        ASSERT_NE(dc, nullptr);
    }

    void TearDown() override {
        surface = nullptr;
        registry = nullptr;
        control = nullptr;
        ComTest::TearDown();
    }

    // A surface of the fixture's registry, cleared to kBackground.
    ComPtr<_KivBitmap> NewSurface(const std::wstring& name, short width, short height) {
        if (!control) control = NewControl();
        if (!control) return {};
        if (!registry) registry = BitmapsOf(control.Get());
        if (!registry) return {};
        ComPtr<_KivBitmap> made = Create(registry.Get(), name, width, height);
        if (made) {
            made->put_BackColor(static_cast<LONG>(kBackground));
            made->Cls();
        }
        return made;
    }

    Pixels Read() const { return ReadPixels(dc, kWidth, kHeight); }

    POINT CurrentPosition() const {
        POINT at{-1, -1};
        ::GetCurrentPositionEx(dc, &at);
        return at;
    }

    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> surface;
    HDC dc = nullptr;
};

// Every object that the recorded calls made was selected into `dc` at most once, selected out again
// with the object that it replaced (which got it back), then deleted after that; nothing else was
// selected or deleted. Returns how many objects were made.
inline int ExpectMadeSelectedRestoredDeleted(const Recorder& recorder, HDC dc) {
    const auto& calls = recorder.calls;
    int made = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string name = calls[i].name;
        if (name != "CreatePen" && name != "CreateSolidBrush" && name != "CreateFontA") continue;
        const std::intptr_t object = calls[i].result;
        if (!object) continue;
        ++made;
        size_t selectedAt = 0, restoredAt = 0, deletedAt = 0;
        std::intptr_t replaced = 0;
        for (size_t j = i + 1; j < calls.size(); ++j) {
            const std::string other = calls[j].name;
            if (other == "SelectObject" && calls[j].args[1] == object) {
                EXPECT_EQ(selectedAt, 0u) << name << " selected twice";
                EXPECT_EQ(calls[j].args[0], reinterpret_cast<std::intptr_t>(dc));
                selectedAt = j;
                replaced = calls[j].result;
            } else if (other == "SelectObject" && selectedAt && !restoredAt && calls[j].args[1] == replaced) {
                EXPECT_EQ(calls[j].result, object) << "the restore did not hand the made object back";
                restoredAt = j;
            } else if (other == "DeleteObject" && calls[j].args[0] == object) {
                EXPECT_EQ(deletedAt, 0u) << name << " deleted twice";
                EXPECT_NE(calls[j].result, 0) << name << " not deleted";
                deletedAt = j;
            }
        }
        EXPECT_NE(deletedAt, 0u) << name << " never deleted";
        if (selectedAt) {
            EXPECT_NE(replaced, 0);
            EXPECT_NE(restoredAt, 0u) << name << " left selected";
            EXPECT_GT(deletedAt, restoredAt) << name << " deleted while selected";
        }
    }
    // No select other than these pairs, and nothing deleted that was not made here.
    int selects = 0, madeSelected = 0;
    for (const auto& call : calls) {
        if (std::string(call.name) == "SelectObject") ++selects;
    }
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string name = calls[i].name;
        if ((name == "CreatePen" || name == "CreateFontA") && calls[i].result) madeSelected += 2;
        if (name == "DeleteObject") {
            bool ours = false;
            for (size_t j = 0; j < i; ++j) {
                const std::string maker = calls[j].name;
                if ((maker == "CreatePen" || maker == "CreateSolidBrush" || maker == "CreateFontA") &&
                    calls[j].result == calls[i].args[0])
                    ours = true;
            }
            EXPECT_TRUE(ours) << "deleted an object that the call did not make";
        }
    }
    EXPECT_EQ(selects, madeSelected) << "pens and fonts are selected once and restored once; brushes never";
    return made;
}

}  // namespace kivtest
