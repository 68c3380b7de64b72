// Text under a double-byte ANSI code page: the converted text is longer than its character count,
// and BPrint must hand the platform all of it. CTest runs this program in a Japanese locale.
#include "surface_fixture.h"

#include <string>

using namespace kivtest;

namespace {

std::string Ansi(const std::wstring& text, UINT codePage) {
    const int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

class DoubleByte : public SurfaceTest {
protected:
    void SetUp() override {
        ASSERT_EQ(::GetACP(), 932u) << "this program must run with a Japanese locale (LANG=ja_JP.UTF-8)";
        SurfaceTest::SetUp();
    }
};

TEST_F(DoubleByte, BPrintHandsOverEveryByteOfTheConvertedText) {
    for (const std::wstring& line : {std::wstring(L"\u65e5\u672c\u8a9e"), std::wstring(L"ab\u30c6\u30ad\u30b9\u30c8!")}) {
        const std::string bytes = Ansi(line, 932);
        ASSERT_GT(bytes.size(), line.size()) << "the conversion should be longer than the text";
        Recorder recorder;
        short left = 2, top = 1;
        Text text(line);
        ASSERT_EQ(surface->BPrint(&left, &top, text.Ref()), S_OK);
        const auto outputs = recorder.Named("TextOutA");
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_EQ(outputs[0].args[4], static_cast<std::intptr_t>(bytes.size()));
        EXPECT_EQ(outputs[0].text, bytes);
    }
}

TEST_F(DoubleByte, TheFaceNameGoesOutInTheSameCodePage) {
    const std::wstring face = L"\uff2d\uff33 \u30b4\u30b7\u30c3\u30af";
    Text name(face);
    ASSERT_EQ(surface->put_FontName(name.Ref()), S_OK);
    Recorder recorder;
    short left = 0, top = 0;
    Text text(L"x");
    ASSERT_EQ(surface->BPrint(&left, &top, text.Ref()), S_OK);
    const auto fonts = recorder.Named("CreateFontA");
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_EQ(fonts[0].text, Ansi(face, 932));
}

}  // namespace
