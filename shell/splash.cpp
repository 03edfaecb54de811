#include "shell/splash.h"

#include "base/fs.h"
#include "base/path.h"
#include "logdb/scramble.h"
#include "ui/dib.h"

static HWND splashWindow;
static HBITMAP splashPicture;

void SplashWindowRect(int pictureWidth, int pictureHeight, int screenWidth, int screenHeight,
                      RECT *rect)
{
    int width = pictureWidth + 2;
    int height = pictureHeight + 2;
    rect->left = (screenWidth - width) / 2;
    rect->top = (screenHeight - height) / 2;
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
}

// Full path of the temporary picture file; 0 when the Windows directory leaves no room for it.
static int TempPicturePath(char *path)
{
    UINT n = GetWindowsDirectoryA(path, PATH_SIZE);
    if (n == 0 || n >= static_cast<UINT>(PATH_SIZE) || !PathWithSlash(path))
        return 0;
    if (lstrlenA(path) + lstrlenA(SPLASH_TEMP_NAME) > PATH_MAX_BYTES)
        return 0;
    lstrcatA(path, SPLASH_TEMP_NAME);
    return 1;
}

// Writes size bytes of data to a new file at path (a leftover of a killed run is overwritten):
// 1 when all of them were written, 0 when the file holds less, -1 when none could be made.
static int WritePictureFile(const char *path, const void *data, DWORD size)
{
    int file = FsOpen(path, FS_CREATE);
    if (file == FS_NO_FILE)
        return -1;
    uint32_t count = size;
    int32_t written = FsWrite(file, data, &count);
    int closed = FsClose(file);
    return written >= 0 && static_cast<uint32_t>(written) == size && closed == 0;
}

enum UnpackResult { UNPACK_NOTHING, UNPACK_FAILED, UNPACK_WRITTEN };

// Writes the unscrambled picture file to path. UNPACK_NOTHING: there is no picture, or no file
// could be made there, and nothing was touched; UNPACK_FAILED: the file may hold part of it.
static UnpackResult UnpackPictureResource(HINSTANCE instance, const char *path)
{
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(SPLASH_RESOURCE_ID),
                                MAKEINTRESOURCEA(SPLASH_RESOURCE_TYPE));
    if (!found)
        return UNPACK_NOTHING;
    HGLOBAL resource = LoadResource(instance, found);
    DWORD size = resource ? SizeofResource(instance, found) : 0;
    const void *bytes = resource ? LockResource(resource) : nullptr;
    if (size == 0 || !bytes || size > 0x7FFFFFFFu - SPLASH_SLACK_BYTES) {
        if (resource)
            FreeResource(resource);
        return UNPACK_NOTHING;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + SPLASH_SLACK_BYTES);
    void *copy = block ? GlobalLock(block) : nullptr;
    UnpackResult written = UNPACK_NOTHING;
    if (copy) {
        CopyMemory(copy, bytes, size);
        UnscrambleBlock(copy, static_cast<int32_t>(size), SCRAMBLE_SPLASH_KEY);
        int rc = WritePictureFile(path, copy, size);
        written = rc > 0 ? UNPACK_WRITTEN : rc == 0 ? UNPACK_FAILED : UNPACK_NOTHING;
        GlobalUnlock(block);
    }
    if (block)
        GlobalFree(block);
    FreeResource(resource);
    return written;
}

HBITMAP LoadSplashPicture(HINSTANCE instance)
{
    char path[PATH_SIZE];
    if (!TempPicturePath(path))
        return nullptr;
    // A file that was not written whole is not loaded: it might be someone else's.
    UnpackResult unpacked = UnpackPictureResource(instance, path);
    if (unpacked == UNPACK_NOTHING)
        return nullptr;
    DibPicture picture{};
    int rc = unpacked == UNPACK_WRITTEN ? LoadDibFile(path, &picture) : DIB_CANNOT_OPEN;
    FsDelete(path);
    if (rc != DIB_OK)
        return nullptr;
    // The splash draws on true-colour and palette displays alike without it.
    if (picture.palette)
        DeleteObject(picture.palette);
    return picture.bitmap;
}

static int RegisterSplashClass(HINSTANCE instance)
{
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = SplashWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(SPLASH_ICON_ID));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.lpszClassName = SPLASH_CLASS_NAME;
    return RegisterClassA(&wc) != 0;
}

int ShowSplash(HINSTANCE instance)
{
    splashPicture = LoadBitmapA(instance, MAKEINTRESOURCEA(SPLASH_BITMAP_ID));
    if (!splashPicture)
        splashPicture = LoadSplashPicture(instance);
    if (!splashPicture)
        return 0;   // the run goes on without it: no box to hold it up
    BITMAP bm{};
    if (!RegisterSplashClass(instance) || !GetObjectA(splashPicture, sizeof bm, &bm)) {
        HideSplash();
        return 0;
    }
    RECT r;
    SplashWindowRect(bm.bmWidth, bm.bmHeight, GetSystemMetrics(SM_CXSCREEN),
                     GetSystemMetrics(SM_CYSCREEN), &r);
    splashWindow = CreateWindowExA(0, SPLASH_CLASS_NAME, SPLASH_WINDOW_NAME, WS_POPUP | WS_BORDER,
                                   r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr,
                                   nullptr, instance, nullptr);
    if (!splashWindow) {
        HideSplash();
        return 0;
    }
    SetWindowPos(splashWindow, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    ShowWindow(splashWindow, SW_SHOW);
    UpdateWindow(splashWindow);
    return 1;
}

int HideSplash(void)
{
    if (splashWindow)
        DestroyWindow(splashWindow);
    splashWindow = nullptr;
    if (splashPicture)
        DeleteObject(splashPicture);
    splashPicture = nullptr;
    return 0;
}

static void OnPaint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (splashPicture) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, splashPicture);
        BITMAP bm{};
        GetObjectA(splashPicture, sizeof bm, &bm);
        BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    EndPaint(window, &ps);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        OnPaint(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
