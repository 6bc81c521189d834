// Paths reach the library in the system's ANSI code page. Run with the
// Chinese code page (wine: LC_ALL=zh_CN.UTF-8), a Chinese file name must come
// out as its GB2312 bytes and open through the narrow C library calls.
#include "ansi_path_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

TEST(AnsiPathWin, ChinesePathBecomesGb2312BytesThatOpenTheFile)
{
    ASSERT_EQ(GetACP(), 936u) << "run under wine with LC_ALL=zh_CN.UTF-8 (a generated locale)";
    const std::wstring name = L"镜像 测试.img";
    EXPECT_EQ(toAnsiCodePage(name), std::string("\xbe\xb5\xcf\xf1 \xb2\xe2\xca\xd4.img"));

    FILE *written = _wfopen(name.c_str(), L"wb");
    ASSERT_NE(written, nullptr);
    std::fputs("image", written);
    std::fclose(written);
    FILE *read = std::fopen(toAnsiCodePage(name).c_str(), "rb");
    ASSERT_NE(read, nullptr);
    char text[8] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, read), 5u);
    std::fclose(read);
    _wremove(name.c_str());
    EXPECT_STREQ(text, "image");
}

TEST(AnsiPathWin, CharacterOutsideTheCodePageGivesNoPath)
{
    // U+1F525 (a flame) has no form in any ANSI code page.
    EXPECT_EQ(toAnsiCodePage(L"fw\U0001F525.img"), std::string());
}
