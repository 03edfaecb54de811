// Splash window of an interactive run: the product's picture in a borderless topmost window
// centred on the screen. The picture is bitmap resource 7500 when the program has one, else the
// scrambled bitmap file stored as resource type 1000, id 1000, which is unscrambled, written to
// "_bmp23_.bm_" in the Windows directory, loaded from there and deleted again.
#pragma once

#include <windows.h>

constexpr int SPLASH_BITMAP_ID = 7500;
constexpr int SPLASH_RESOURCE_TYPE = 1000;
constexpr int SPLASH_RESOURCE_ID = 1000;
constexpr int SPLASH_ICON_ID = 1000;
constexpr DWORD SPLASH_MIN_MS = 2000;        // the caller keeps the window up at least this long
constexpr DWORD SPLASH_SLACK_BYTES = 100;    // zero-filled room behind the unscrambled copy
constexpr const char *SPLASH_TEMP_NAME = "_bmp23_.bm_";
constexpr const char *SPLASH_CLASS_NAME = "DeKvAbtClsName";
constexpr const char *SPLASH_WINDOW_NAME = "DeKvAbtWinName";

// Loads the picture, creates, raises, shows and paints the window. 1 when it is up; 0 when the
// picture cannot be had or the class or window cannot be made (nothing is shown then).
int ShowSplash(HINSTANCE instance);
// Destroys the window and the picture. Returns 0.
int HideSplash(void);
// Paints the picture at 0,0; everything else goes to DefWindowProcA.
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The picture from the scrambled resource of instance, or null. The temporary file never
// outlives the call.
HBITMAP LoadSplashPicture(HINSTANCE instance);
// Window rectangle for a picture on a screen: the picture plus a one-pixel border on each side,
// centred (integer halves, rounding toward zero; negative when the picture is larger).
void SplashWindowRect(int pictureWidth, int pictureHeight, int screenWidth, int screenHeight,
                      RECT *rect);
