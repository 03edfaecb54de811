#include "shell/splash.h"

#include <gtest/gtest.h>

#include <string>

#include "support/run_host.h"
#include "support/tempdir.h"

namespace {

using testfs::Exists;
using testfs::ReadBytes;
using testfs::WriteBytes;

std::string TempPicturePath()
{
    return testfs::WindowsDir() + SPLASH_TEMP_NAME;
}

TEST(Splash, WindowIsThePicturePlusItsBorderCentredOnTheScreen)
{
    struct {
        int pw, ph, sw, sh;
        RECT want;
    } cases[] = {
        {300, 200, 640, 480, {169, 139, 471, 341}},
        {440, 240, 1024, 768, {291, 263, 733, 505}},
        {1, 1, 2, 2, {0, 0, 3, 3}},  // (2 - 3) / 2 rounds toward zero
        {2, 2, 3, 3, {0, 0, 4, 4}},
        {700, 100, 640, 480, {-31, 189, 671, 291}},  // wider than the screen: still centred
        {701, 100, 640, 480, {-31, 189, 672, 291}},  // -63 / 2 is -31, not -32
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.pw) + "x" + std::to_string(c.ph) + " on " +
                     std::to_string(c.sw) + "x" + std::to_string(c.sh));
        RECT r;
        SplashWindowRect(c.pw, c.ph, c.sw, c.sh, &r);
        EXPECT_EQ(c.want.left, r.left);
        EXPECT_EQ(c.want.top, r.top);
        EXPECT_EQ(c.want.right, r.right);
        EXPECT_EQ(c.want.bottom, r.bottom);
    }
}

TEST(Splash, StoredPictureIsUnscrambledLoadedAndItsFileDeleted)
{
    std::string temp = TempPicturePath();
    WriteBytes(temp, "an older file of the same name");
    HBITMAP picture = LoadSplashPicture(GetModuleHandleA(nullptr));
    ASSERT_NE(nullptr, picture) << "the stored picture did not load";
    BITMAP bm{};
    ASSERT_NE(0, GetObjectA(picture, sizeof bm, &bm));
    EXPECT_EQ(440, bm.bmWidth);
    EXPECT_EQ(240, bm.bmHeight);
    EXPECT_FALSE(Exists(temp)) << "the temporary picture file was left behind";
    // The top-left corner is drawn, not blank: the picture came through the unscrambling whole.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, picture);
    COLORREF inside = GetPixel(dc, 60, 52);   // the globe
    COLORREF back = GetPixel(dc, 10, 150);    // the background
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_NE(inside, back);
    EXPECT_GT(GetBValue(back), GetRValue(back)) << "a blue background";
    DeleteObject(picture);
}

TEST(Splash, AModuleWithoutTheStoredPictureGivesNoneAndTouchesNoFile)
{
    HMODULE bare = LoadLibraryA(UnixToWine(RESOURCES_ONLY_DLL).c_str());
    ASSERT_NE(nullptr, bare);
    std::string temp = TempPicturePath();
    WriteBytes(temp, "someone's file");
    EXPECT_EQ(nullptr, LoadSplashPicture(bare));
    EXPECT_EQ("someone's file", ReadBytes(temp));
    DeleteFileA(temp.c_str());
    FreeLibrary(bare);
}

TEST(Splash, BitmapResource7500ReplacesTheStoredPicture)
{
    char display[8];
    if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display))
        GTEST_SKIP() << "needs an X display";
    HMODULE module = LoadLibraryA(UnixToWine(BITMAP7500_DLL).c_str());
    ASSERT_NE(nullptr, module);
    std::string temp = TempPicturePath();
    WriteBytes(temp, "sentinel");
    ASSERT_EQ(1, ShowSplash(module));
    HWND w = FindWindowA(SPLASH_CLASS_NAME, SPLASH_WINDOW_NAME);
    ASSERT_NE(nullptr, w);
    RECT r;
    GetWindowRect(w, &r);
    EXPECT_EQ(106 + 2, r.right - r.left) << "the 106 x 187 bitmap 7500 and its border";
    EXPECT_EQ(187 + 2, r.bottom - r.top);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    LONG style = GetWindowLongA(w, GWL_STYLE);
    EXPECT_EQ(WS_POPUP | WS_BORDER, style & (WS_POPUP | WS_BORDER | WS_CAPTION));
    EXPECT_EQ("sentinel", ReadBytes(temp)) << "the stored picture was unpacked all the same";
    EXPECT_EQ(0, HideSplash());
    EXPECT_FALSE(IsWindow(w));
    DeleteFileA(temp.c_str());
    UnregisterClassA(SPLASH_CLASS_NAME, module);
    FreeLibrary(module);
}

}  // namespace
