// The progress dialog, its drawing helpers and remover's resources, on a real display (Xvfb under
// scripts/ctest-wine). Pixels are read back from the windows and compared with what the picture,
// tick, frame and bar must produce. The finished dialog is saved as
// progress-finished.bmp among the build's screenshots (converted to PNG by the next CTest entry).
#include "ui/progress_internal.h"
#include "ui/progress_res.h"
#include "ui/draw.h"
#include "base/pool.h"
#include "dde/progman_res.h"
#include "base/platform.h"
#include "engine/engine_res.h"
#include "shell/remover_res.h"
#include "support/dbcs.h"
#include "support/run_host.h"
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const COLORREF TEAL = RGB(0, 128, 128);
const COLORREF SILVER = RGB(192, 192, 192);
const COLORREF NAVY = RGB(0, 0, 128);
const COLORREF WHITE = RGB(255, 255, 255);
const COLORREF BLACK = RGB(0, 0, 0);
const COLORREF STANDARD_PALETTE[16] = {
    RGB(0, 0, 0), RGB(128, 0, 0), RGB(0, 128, 0), RGB(128, 128, 0),
    RGB(0, 0, 128), RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
    RGB(128, 128, 128), RGB(255, 0, 0), RGB(0, 255, 0), RGB(255, 255, 0),
    RGB(0, 0, 255), RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255),
};

HINSTANCE Self()
{
    return GetModuleHandleA(nullptr);
}

// Handles what is waiting, as the shell's loop does. true when a quit request was among it.
bool Pump(HWND dialog)
{
    bool quit = false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit = true;
            continue;
        }
        if (dialog && IsWindow(dialog) && IsDialogMessageA(dialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return quit;
}

void Settle(HWND dialog)
{
    for (int i = 0; i < 5; i++) {
        Pump(dialog);
        Sleep(10);
    }
}

// A key pressed and released with the focus where it is, through the dialog manager.
bool PressKey(HWND dialog, WPARAM key)
{
    HWND target = GetFocus() ? GetFocus() : dialog;
    MSG down = {target, WM_KEYDOWN, key, 1, 0, {0, 0}};
    MSG up = {target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001), 0, {0, 0}};
    for (MSG *m : {&down, &up})
        if (!IsDialogMessageA(dialog, m)) {
            TranslateMessage(m);
            DispatchMessageA(m);
        }
    return Pump(dialog);
}

RECT ClientRectOf(HWND dialog, int id)
{
    RECT r = {0, 0, 0, 0};
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

// The window's client pixels, read once through a 32-bit DIB.
struct Capture {
    int w = 0, h = 0;
    std::vector<DWORD> bits;
    explicit Capture(HWND window)
    {
        RECT r;
        GetClientRect(window, &r);
        w = r.right;
        h = r.bottom;
        HDC dc = GetDC(window);
        HDC memory = CreateCompatibleDC(dc);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void *pixels = nullptr;
        HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, w, h, dc, 0, 0, SRCCOPY);
        GdiFlush();
        bits.assign(static_cast<DWORD *>(pixels), static_cast<DWORD *>(pixels) + w * h);
        SelectObject(memory, old);
        DeleteObject(dib);
        DeleteDC(memory);
        ReleaseDC(window, dc);
    }
    COLORREF At(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return CLR_INVALID;
        DWORD v = bits[y * w + x];
        return RGB(v >> 16 & 255, v >> 8 & 255, v & 255);
    }
};

std::string Hex(COLORREF c)
{
    char text[16];
    wsprintfA(text, "%06lX", static_cast<unsigned long>(c));
    return text;
}

// A 4-bit bitmap resource decoded by hand, independent of GDI.
struct ResourceBitmap {
    int w = 0, h = 0, bpp = 0;
    std::vector<COLORREF> palette;
    std::vector<int> index;   // top-down
    bool Load(HINSTANCE module, int id)
    {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2));
        if (!found)
            return false;
        auto *head = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(module, found)));
        w = head->biWidth;
        h = head->biHeight;
        bpp = head->biBitCount;
        if (bpp != 4 || h <= 0)
            return false;
        int colours = head->biClrUsed ? static_cast<int>(head->biClrUsed) : 16;
        auto *quads = reinterpret_cast<const RGBQUAD *>(reinterpret_cast<const BYTE *>(head) +
                                                         head->biSize);
        for (int i = 0; i < colours; i++)
            palette.push_back(RGB(quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue));
        auto *data = reinterpret_cast<const BYTE *>(quads + colours);
        int stride = ((w * 4 + 31) / 32) * 4;
        index.resize(w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                BYTE b = data[(h - 1 - y) * stride + x / 2];
                index[y * w + x] = x % 2 ? b & 15 : b >> 4;
            }
        return true;
    }
    COLORREF At(int x, int y) const { return palette[index[y * w + x]]; }
};

class DialogTest : public testing::Test {
protected:
    ProgressDialog *pd = nullptr;
    HWND window = nullptr;

    void SetUp() override
    {
        PoolSetOption(POOLOPT_REPORT, 0);
        Platform win95 = {1, 0, 0, 0, 0};
        PlatformSet(&win95);
    }
    void TearDown() override
    {
        if (pd && IsWindow(window))
            ProgressDialogDestroy(pd);
        Pump(nullptr);
        PlatformSet(nullptr);
    }
    void Open(HINSTANCE module, const char *name, bool show)
    {
        pd = ProgressDialogCreate(module, name);
        ASSERT_NE(nullptr, pd) << "no dialog (no display? run under scripts/ctest-wine); error "
                               << GetLastError();
        window = ProgressDialogGetWindow(pd);
        ASSERT_TRUE(IsWindow(window));
        if (show) {
            ShowWindow(window, SW_SHOW);
            UpdateWindow(window);
            Settle(window);
        }
    }
    std::string Text(int id)
    {
        char text[512] = "";
        GetDlgItemTextA(window, id, text, sizeof text);
        return text;
    }
};

// ---- Resources --------------------------------------------------------------------------------

struct ItemTemplate {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::string className;
    std::string text;
};

// Reads a UTF-16 resource string or ordinal; advances p.
std::string ReadSzOrOrd(const WORD *&p, WORD *ordinal)
{
    *ordinal = 0;
    if (*p == 0xFFFF) {
        *ordinal = p[1];
        p += 2;
        return "";
    }
    std::string text;
    while (*p)
        text.push_back(*p < 128 ? static_cast<char>(*p++) : (p++, '?'));
    p++;
    return text;
}

TEST(Resources, DialogTemplateIsThePublishedLayout)
{
    HRSRC found = FindResourceA(Self(), MAKEINTRESOURCEA(IDD_PROGRESS), MAKEINTRESOURCEA(5));
    ASSERT_NE(nullptr, found);
    auto *head = static_cast<const BYTE *>(LockResource(LoadResource(Self(), found)));
    const DLGTEMPLATE *dlg = reinterpret_cast<const DLGTEMPLATE *>(head);
    EXPECT_EQ(0x80C800C0u, dlg->style);
    EXPECT_EQ(0u, dlg->dwExtendedStyle);
    EXPECT_EQ(12, dlg->cdit);
    EXPECT_EQ(9, dlg->x);
    EXPECT_EQ(22, dlg->y);
    EXPECT_EQ(320, dlg->cx);
    EXPECT_EQ(197, dlg->cy);
    const WORD *p = reinterpret_cast<const WORD *>(dlg + 1);
    WORD ordinal;
    ReadSzOrOrd(p, &ordinal);                 // menu
    ReadSzOrOrd(p, &ordinal);                 // class
    const WORD *caption = p;
    std::wstring title;
    while (*p)
        title.push_back(static_cast<wchar_t>(*p++));
    p++;
    EXPECT_EQ(std::wstring(L"Desinstalaci\u00f3n de Parlomatic"), title);
    (void)caption;
    EXPECT_EQ(8, *p++);
    EXPECT_EQ("MS Sans Serif", ReadSzOrOrd(p, &ordinal));

    const ItemTemplate expected[] = {
        {0x5002000B, 219, 48, 10, 10, IDC_MARK4, "static", ""},
        {0x58010001, 263, 176, 50, 14, IDOK, "button", "OK"},
        {0x50000007, 118, 159, 196, 1, IDC_SEPARATOR, "static", ""},
        {0x5002000B, 10, 12, 95, 166, IDC_PICTURE, "static", ""},
        {0x50020000, 121, 14, 180, 26, IDC_HEADING, "static",
         "Desinstalar el programa y todos sus componentes"},
        {0x50020000, 132, 123, 173, 31, IDC_MESSAGE, "static", "Message"},
        {0x5002000B, 132, 90, 173, 12, IDC_BAR, "static", ""},
        {0x5002000B, 151, 48, 10, 10, IDC_MARK0, "static", ""},
        {0x5002000B, 168, 48, 10, 10, IDC_MARK1, "static", ""},
        {0x5002000B, 185, 48, 10, 10, IDC_MARK2, "static", ""},
        {0x5002000B, 202, 48, 10, 10, IDC_MARK3, "static", ""},
        {0x5002000B, 236, 48, 10, 10, IDC_MARK5, "static", ""},
    };
    for (const ItemTemplate &e : expected) {
        p = reinterpret_cast<const WORD *>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        auto *item = reinterpret_cast<const DLGITEMTEMPLATE *>(p);
        SCOPED_TRACE("control " + std::to_string(e.id));
        EXPECT_EQ(e.style, item->style);
        EXPECT_EQ(e.x, item->x);
        EXPECT_EQ(e.y, item->y);
        EXPECT_EQ(e.cx, item->cx);
        EXPECT_EQ(e.cy, item->cy);
        EXPECT_EQ(e.id, item->id);
        p = reinterpret_cast<const WORD *>(item + 1);
        std::string cls = ReadSzOrOrd(p, &ordinal);
        if (ordinal == 0x80)
            cls = "button";
        if (ordinal == 0x82)
            cls = "static";
        EXPECT_EQ(0, lstrcmpiA(e.className.c_str(), cls.c_str())) << "class " << cls;
        EXPECT_EQ(e.text, ReadSzOrOrd(p, &ordinal));
        WORD extra = *p++;
        p = reinterpret_cast<const WORD *>(reinterpret_cast<const BYTE *>(p) + extra);
    }
}

TEST(Resources, StringTableHoldsTheTextsInCodePage1252)
{
    ASSERT_EQ(1252u, GetACP()) << "the texts below are written in code page 1252";
    const char *restart = "La desintalación no será completa hasta que vuelva a iniciar Windows.";
    struct Case { int id; const char *text; };
    const Case cases[] = {
        {IDS_PM_GROUPS, "Groups"}, {IDS_PM_INI, "progman.ini"}, {IDS_PM_SERVICE, "PROGMAN"},
        {IDS_PM_CREATEGROUP, "[CreateGroup("}, {IDS_PM_CLOSE, ")]"},
        {IDS_PM_SHOWGROUP, "[ShowGroup("}, {IDS_PM_DELETEGROUP, "[DeleteGroup("},
        {IDS_PM_ADDITEM, "[AddItem("}, {IDS_PM_SHOW1, "1"}, {IDS_PM_COMMA, ","},
        {IDS_ERROR_CAPTION, "Uninstall"}, {ENGINE_TEXT_DONE, "La desinstalación ha terminado."}, {ENGINE_TEXT_INCOMPLETE, restart},
        {ENGINE_TEXT_KEPT, "La desinstalación ha terminado, pero algunos elementos se han conservado."},
        {ENGINE_TEXT_PROGRESS_DAMAGED, "Registro de progreso dañado: los archivos compartidos se han conservado."},
        {IDS_CONFIRM, "Desinstalar el programa y todos sus componentes"},
        {IDS_TITLE, "Desinstalación de Parlomatic"},
        {IDS_POOL_CAPTION, POOL_TEXT_CAPTION}, {IDS_POOL_FORMAT, POOL_TEXT_FORMAT},
        {ENGINE_TEXT_COPY_LOG, "Unable to copy the installation log file to temporary location '%s'.  Please "
               "ensure enough space is available for this file."},
        {ENGINE_TEXT_NO_MEMORY, "Not enough memory unable to perform the deinstallation."},
        {ENGINE_TEXT_NO_LOG, "Unable to locate the installation log file '%s'.  Uninstallation will not "
               "continue."},
        {ENGINE_TEXT_BAD_LOG, "El fichero %s es incorrecto o está dañado."},
        {ENGINE_TEXT_NO_WINDOW, "Error interno Nº %ld."},
        {ENGINE_TEXT_INTERNAL, "Error interno Nº %ld."},
    };
    for (const Case &c : cases) {
        char text[600] = "";
        LoadStringA(Self(), c.id, text, sizeof text);
        EXPECT_STREQ(c.text, text) << "string " << c.id;
    }
}

TEST(Resources, BitmapsHaveTheirSizesPaletteAndKeyColours)
{
    struct Case { int id, w, h; COLORREF key; };
    const Case cases[] = {{IDB_PICTURE, 106, 187, TEAL}, {IDB_CHECK, 10, 10, SILVER}};
    for (const Case &c : cases) {
        SCOPED_TRACE("bitmap " + std::to_string(c.id));
        ResourceBitmap bmp;
        ASSERT_TRUE(bmp.Load(Self(), c.id)) << "missing, or not 4 bits per pixel";
        EXPECT_EQ(c.w, bmp.w);
        EXPECT_EQ(c.h, bmp.h);
        ASSERT_EQ(16u, bmp.palette.size());
        for (int i = 0; i < 16; i++)
            EXPECT_EQ(Hex(STANDARD_PALETTE[i]), Hex(bmp.palette[i])) << "palette entry " << i;
        // The key colour surrounds the art: every corner is background.
        for (POINT corner : {POINT{0, 0}, POINT{c.w - 1, 0}, POINT{0, c.h - 1},
                             POINT{c.w - 1, c.h - 1}})
            EXPECT_EQ(Hex(c.key), Hex(bmp.At(corner.x, corner.y)));
        int art = 0;
        for (int y = 0; y < bmp.h; y++)
            for (int x = 0; x < bmp.w; x++)
                art += bmp.At(x, y) != c.key;
        EXPECT_GT(art, c.w * c.h / 10) << "hardly anything drawn";
    }
    ResourceBitmap check;
    ASSERT_TRUE(check.Load(Self(), IDB_CHECK));
    for (int i = 0; i < 100; i++)
        EXPECT_TRUE(check.index[i] == 0 || check.index[i] == 7) << "the tick is black on silver";
    HICON icon = static_cast<HICON>(LoadImageA(Self(), MAKEINTRESOURCEA(IDI_REMOVER), IMAGE_ICON,
                                               32, 32, 0));
    EXPECT_NE(nullptr, icon) << "icon 1000";
    if (icon)
        DestroyIcon(icon);
}

// ---- Drawing helpers ----------------------------------------------------------------------------

// A w x h 32-bit memory canvas filled with one colour.
struct MemoryCanvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    MemoryCanvas(int w, int h, COLORREF fill)
    {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        RECT all = {0, 0, w, h};
        HBRUSH brush = CreateSolidBrush(fill);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    ~MemoryCanvas()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
};

// Expected sunken-frame colour of pixel (x, y) for frame rectangle r; CLR_INVALID: untouched.
COLORREF FramePixel(const RECT &r, int x, int y, COLORREF shadow, COLORREF light)
{
    if (x == r.right - 1 && y >= r.top + 1 && y <= r.bottom + 1)
        return light;
    if (y == r.bottom + 1 && x >= r.left + 1 && x <= r.right - 2)
        return light;
    if (y == r.top && x >= r.left && x <= r.right - 1)
        return shadow;
    if (x == r.left && y >= r.top + 1 && y <= r.bottom)
        return shadow;
    return CLR_INVALID;
}

void ExpectFrame(const RECT &r, COLORREF face, COLORREF light)
{
    MemoryCanvas canvas(24, 24, face);
    DrawSunkenFrame(canvas.dc, &r);
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 24; x++) {
            COLORREF want = FramePixel(r, x, y, shadow, light);
            if (want == CLR_INVALID)
                want = face;
            ASSERT_EQ(Hex(want), Hex(GetPixel(canvas.dc, x, y))) << "pixel " << x << "," << y;
        }
}

TEST(Draw, SunkenFrameLinesAndTheirAsymmetry)
{
    const RECT rects[] = {{3, 4, 15, 12}, {0, 0, 24, 22}, {5, 5, 7, 7}};
    for (const RECT &r : rects)
        ExpectFrame(r, RGB(1, 2, 3), WHITE);
}

TEST(Draw, SunkenFrameOnWhiteFaceUsesShadowForBothEdges)
{
    int element = COLOR_BTNFACE;
    COLORREF before = GetSysColor(COLOR_BTNFACE);
    COLORREF white = WHITE;
    ASSERT_TRUE(SetSysColors(1, &element, &white));
    RECT r = {2, 2, 20, 18};
    ExpectFrame(r, RGB(1, 2, 3), GetSysColor(COLOR_BTNSHADOW));
    SetSysColors(1, &element, &before);
    EXPECT_EQ(before, GetSysColor(COLOR_BTNFACE));
}

// A 4 x 3 source: key colour in a pattern, other pixels in distinct colours.
HBITMAP PatternSource(COLORREF key, bool allKey)
{
    MemoryCanvas canvas(4, 3, key);
    const COLORREF colours[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), BLACK, WHITE};
    if (!allKey)
        for (int y = 0; y < 3; y++)
            for (int x = 0; x < 4; x++)
                if ((x + y) % 2)
                    SetPixel(canvas.dc, x, y, colours[(x + y * 4) % 5]);
    SelectObject(canvas.dc, canvas.old);
    HBITMAP result = canvas.bitmap;
    canvas.bitmap = CreateCompatibleBitmap(canvas.dc, 1, 1);   // keep the destructor honest
    canvas.old = SelectObject(canvas.dc, canvas.bitmap);
    return result;
}

// A top-level window with one static child of the given size, id and style.
struct Host {
    HWND parent, child;
    Host(int w, int h, int id, DWORD style, const char *cls = "static")
    {
        parent = CreateWindowExA(0, "static", "host", WS_POPUP | WS_VISIBLE, 10, 10, 400, 300,
                                 nullptr, nullptr, Self(), nullptr);
        child = CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 20, 30, w, h, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Self(),
                                nullptr);
    }
    ~Host() { DestroyWindow(parent); }
};

// Through MaskBlend: key pixels show the fill, the rest is the source, centred on the control.
TEST(Draw, ComposePictureCentresSourceOnFill)
{
    struct Case { int cw, ch, sw, sh; bool allKey; };
    const Case cases[] = {
        {20, 14, 4, 3, false}, {5, 3, 4, 3, false},
        {3, 2, 4, 3, false},    // larger than the control: cut evenly
        {9, 9, 4, 3, true},     // nothing but the key: only the fill shows
    };
    for (const Case &c : cases) {
        Host host(c.cw, c.ch, 99, SS_SIMPLE);
        ASSERT_NE(nullptr, host.child);
        const COLORREF fill = RGB(40, 50, 60), key = SILVER;
        HBITMAP source = PatternSource(key, c.allKey);
        HBITMAP reference = PatternSource(key, c.allKey);
        HBITMAP composed = ComposePicture(host.parent, source, fill, key, 99);
        ASSERT_NE(nullptr, composed);
        EXPECT_EQ(OBJ_BITMAP == GetObjectType(source), false) << "source must be deleted";
        BITMAP info;
        GetObjectA(composed, sizeof info, &info);
        EXPECT_EQ(c.cw, info.bmWidth);
        EXPECT_EQ(c.ch, info.bmHeight);
        HDC screen = GetDC(nullptr);
        HDC a = CreateCompatibleDC(screen), b = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        HGDIOBJ oa = SelectObject(a, composed), ob = SelectObject(b, reference);
        int ox = (c.cw - c.sw) / 2, oy = (c.ch - c.sh) / 2;
        for (int y = 0; y < c.ch; y++)
            for (int x = 0; x < c.cw; x++) {
                int sx = x - ox, sy = y - oy;
                COLORREF want = fill;
                if (sx >= 0 && sy >= 0 && sx < c.sw && sy < c.sh) {
                    COLORREF src = GetPixel(b, sx, sy);
                    want = src == key ? fill : src;
                }
                if (c.allKey) {
                    ASSERT_EQ(Hex(fill), Hex(want));
                }
                EXPECT_EQ(Hex(want), Hex(GetPixel(a, x, y)))
                    << "control " << c.cw << "x" << c.ch << " pixel " << x << "," << y;
            }
        SelectObject(a, oa);
        SelectObject(b, ob);
        DeleteDC(a);
        DeleteDC(b);
        DeleteObject(composed);
        DeleteObject(reference);
    }
    Host host(10, 10, 99, SS_SIMPLE);
    HBITMAP source = PatternSource(SILVER, false);
    EXPECT_EQ(nullptr, ComposePicture(host.parent, source, BLACK, SILVER, 12345));
    EXPECT_FALSE(GetObjectType(source) == OBJ_BITMAP) << "source kept after a missing control";
}

TEST(Draw, CenterWindowUsesScreenSizeEvenWhenTooLarge)
{
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    struct Case { int w, h; };
    const Case cases[] = {{200, 100}, {201, 99}, {sw + 101, sh + 51}};
    for (const Case &c : cases) {
        HWND w = CreateWindowExA(0, "static", "", WS_POPUP, 3, 4, c.w, c.h, nullptr, nullptr,
                                 Self(), nullptr);
        ASSERT_NE(nullptr, w);
        CenterWindow(w);
        RECT r;
        GetWindowRect(w, &r);
        EXPECT_EQ((sw - c.w) / 2, r.left) << c.w << "x" << c.h;
        EXPECT_EQ((sh - c.h) / 2, r.top) << c.w << "x" << c.h;
        EXPECT_EQ(c.w, r.right - r.left) << "size kept";
        DestroyWindow(w);
    }
}

HWND FindCutLine(HWND parent)
{
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = "";
        GetClassNameA(c, cls, sizeof cls);
        if (!strcmp(cls, "CutClsName"))
            return c;
    }
    return nullptr;
}

TEST(Draw, SeparatorReplacedOnlyWhenItIsAThinBlackFrame)
{
    struct Case { const char *cls; int id; DWORD style; int h; bool replaced; };
    const Case cases[] = {
        {"static", IDC_SEPARATOR, SS_BLACKFRAME, 1, true},
        {"STATIC", IDC_SEPARATOR, SS_BLACKFRAME, 35, true},
        {"static", IDC_SEPARATOR, SS_BLACKFRAME, 36, false},
        {"static", IDC_SEPARATOR, SS_GRAYFRAME, 1, false},
        {"static", IDC_SEPARATOR, SS_BLACKRECT, 1, false},
        {"static", IDC_SEPARATOR + 1, SS_BLACKFRAME, 1, false},
        {"button", IDC_SEPARATOR, BS_GROUPBOX, 10, false},   // low bits 7 too, but not a static
    };
    for (int style3d : {1, 0})
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.cls) + " id " + std::to_string(c.id) + " height " +
                         std::to_string(c.h) + " 3d " + std::to_string(style3d));
            Host host(150, c.h, c.id, c.style, c.cls);
            ASSERT_NE(nullptr, host.child);
            HWND line = ReplaceSeparator(host.child, host.parent, style3d);
            EXPECT_EQ(c.replaced, line != nullptr);
            EXPECT_EQ(c.replaced, !IsWindowVisible(host.child));
            EXPECT_EQ(c.replaced, !IsWindowEnabled(host.child));
            if (!line)
                continue;
            char title[32] = "";
            GetWindowTextA(line, title, sizeof title);
            EXPECT_STREQ("CutWinName", title);
            EXPECT_EQ(0xFFFF, GetWindowLongPtrA(line, GWLP_ID) & 0xFFFF);
            EXPECT_EQ(host.parent, GetParent(line));
            RECT r = ClientRectOf(host.parent, 0);
            GetWindowRect(line, &r);
            MapWindowPoints(nullptr, host.parent, reinterpret_cast<POINT *>(&r), 2);
            EXPECT_EQ(20, r.left);
            EXPECT_EQ(30, r.top);
            EXPECT_EQ(150, r.right - r.left);
            EXPECT_EQ(style3d ? 2 : 1, r.bottom - r.top);
            UpdateWindow(host.parent);
            Settle(nullptr);
            HDC dc = GetDC(line);
            COLORREF top = style3d ? GetSysColor(COLOR_BTNSHADOW) : BLACK;
            for (int x : {0, 75, 149}) {
                EXPECT_EQ(Hex(top), Hex(GetPixel(dc, x, 0))) << "top line at " << x;
                if (style3d) {
                    EXPECT_EQ(Hex(RGB(255, 251, 255)), Hex(GetPixel(dc, x, 1)))
                        << "light line at " << x;
                }
            }
            ReleaseDC(line, dc);
        }
    // A missing window is refused.
    EXPECT_EQ(nullptr, ReplaceSeparator(nullptr, nullptr, 1));
}

// ---- The dialog ---------------------------------------------------------------------------------

TEST(ProgressDialogNull, EveryOperationRefusesANullDialog)
{
    EXPECT_EQ(-1, ProgressDialogDestroy(nullptr));
    EXPECT_EQ(nullptr, ProgressDialogGetWindow(nullptr));
    ProgressDialogSetTotal(nullptr, 5);
    ProgressDialogSetMessage(nullptr, "nada");
    ProgressDialogSetMark(nullptr, 1);
    EXPECT_EQ(-1, ProgressDialogStep(nullptr));
    EXPECT_EQ(-1, ProgressDialogRefreshBar(nullptr));
    EXPECT_EQ(-1, ProgressDialogFinish(nullptr));
}

TEST_F(DialogTest, CreatedHiddenWithItsOwnPoolAndFreedWithTheWindow)
{
    Open(Self(), "Parlomatic", false);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDOK)));
    EXPECT_EQ(nullptr, GetWindow(window, GW_OWNER));
    EXPECT_EQ(0, pd->total);
    EXPECT_EQ(0, pd->current);
    for (int m : pd->marks)
        EXPECT_EQ(0, m);
    EXPECT_STREQ("Parlomatic", pd->productName);
    EXPECT_EQ("Desinstalar el programa y todos sus componentes", Text(IDC_HEADING));
    EXPECT_EQ("Message", Text(IDC_MESSAGE));
    ProgressDialogSetMessage(pd, "");
    EXPECT_EQ("", Text(IDC_MESSAGE));
    ProgressDialogSetMessage(pd, "Borrando ficheros");
    EXPECT_EQ("Borrando ficheros", Text(IDC_MESSAGE));
    ProgressDialogSetTotal(pd, 42);
    EXPECT_EQ(42, pd->total);
    ProgressDialogSetMark(pd, 6);
    ProgressDialogSetMark(pd, -1);
    for (int m : pd->marks)
        EXPECT_EQ(0, m) << "a mark out of range was set";

    int pool = pd->pool, blockSize = 0, flags = 0, globalFlags = 0;
    ASSERT_EQ(1, PoolDebugEntry(pool, &blockSize, &flags, &globalFlags));
    EXPECT_EQ(1000, blockSize);
    EXPECT_EQ(POOL_DEFAULT | POOL_GROW | POOL_ZERO, flags);
    // Centred on the screen.
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2, r.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2, r.top);

    EXPECT_EQ(0, ProgressDialogDestroy(pd));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(0, PoolDebugEntry(pool, &blockSize, &flags, &globalFlags)) << "pool not freed";
    pd = nullptr;
}

TEST_F(DialogTest, ProductNameLongerThan99IsCut)
{
    std::string name(150, 'P');
    Open(Self(), name.c_str(), false);
    EXPECT_EQ(std::string(99, 'P'), pd->productName);
}

class DialogDbcs : public DialogTest {};

TEST_F(DialogDbcs, ProductNameIsCutAtAWholeCharacter)
{
    REQUIRE_DBCS();
    std::string name = std::string(98, 'P') + DBCS_TRAIL_A + "tail";
    Open(Self(), name.c_str(), false);
    EXPECT_EQ(std::string(98, 'P'), pd->productName) << "half a character kept";
}

TEST_F(DialogTest, BarGeometryComesFromTheRealControl)
{
    Open(Self(), "Parlomatic", false);
    RECT bar = ClientRectOf(window, IDC_BAR);
    int w = bar.right - bar.left - 4, h = bar.bottom - bar.top - 4;
    int pitch = h - 1 == 0 ? 5 : h - 1;
    EXPECT_EQ(pitch, pd->blockPitch) << "bar " << bar.right - bar.left << "x" << bar.bottom - bar.top;
    EXPECT_EQ(w / pitch, pd->blocksAcross);
    EXPECT_GT(pd->blocksAcross, 5);
}

// Expected colour of bar pixel (x, y) with n blocks; CLR_INVALID outside the blocks' area.
COLORREF BarPixel(const RECT &bar, const ProgressDialog *pd, int n, int x, int y,
                  COLORREF background)
{
    RECT inner = bar;
    InflateRect(&inner, -4, -4);
    if (y < inner.top || y >= inner.bottom || x < inner.left || x > inner.right - 1)
        return CLR_INVALID;
    int column = x - inner.left;
    int block = column / pd->blockPitch, offset = column % pd->blockPitch;
    return block < n && offset <= pd->blockPitch - 3 ? NAVY : background;
}

void ExpectBar(const Capture &shot, const RECT &bar, const ProgressDialog *pd, int n,
               COLORREF background, const char *when)
{
    int bad = 0;
    for (int y = bar.top; y < bar.bottom && bad < 5; y++)
        for (int x = bar.left; x < bar.right && bad < 5; x++) {
            COLORREF want = BarPixel(bar, pd, n, x, y, background);
            if (want == CLR_INVALID)
                continue;
            if (want != shot.At(x, y)) {
                ADD_FAILURE() << when << ": " << n << " blocks expected; pixel " << x - bar.left
                              << "," << y - bar.top << " of the bar is " << Hex(shot.At(x, y))
                              << ", not " << Hex(want);
                bad++;
            }
        }
}

TEST_F(DialogTest, TotalThreeFillsTheBarAndStopsThere)
{
    Open(Self(), "Parlomatic", true);
    ProgressDialogSetTotal(pd, 3);
    ProgressDialogRefreshBar(pd);
    RECT bar = ClientRectOf(window, IDC_BAR);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    {
        Capture shot(window);
        ExpectBar(shot, bar, pd, 0, face, "before any step");
        // The sunken frame around the bar.
        RECT frame = bar;
        InflateRect(&frame, -2, -2);
        EXPECT_EQ(Hex(GetSysColor(COLOR_BTNSHADOW)), Hex(shot.At(frame.left, frame.top + 3)));
        EXPECT_EQ(Hex(GetSysColor(COLOR_BTNSHADOW)), Hex(shot.At(frame.left + 5, frame.top)));
        EXPECT_EQ(Hex(WHITE), Hex(shot.At(frame.left + 5, frame.bottom + 1)));
        EXPECT_EQ(Hex(WHITE), Hex(shot.At(frame.right - 1, frame.top + 3)));
    }
    for (int step = 1; step <= 4; step++) {
        EXPECT_EQ(0, ProgressDialogStep(pd));
        int current = step > 3 ? 3 : step;
        EXPECT_EQ(current, pd->current);
        Capture shot(window);
        ExpectBar(shot, bar, pd, current * pd->blocksAcross / 3, face,
                  ("step " + std::to_string(step)).c_str());
    }
    EXPECT_EQ(3, pd->current) << "current went past total";
}

TEST_F(DialogTest, StepDrawsOnlyWhenTheBlockCountChangesAndNeverErases)
{
    Open(Self(), "Parlomatic", true);
    int total = pd->blocksAcross * 3;   // three steps per block
    ProgressDialogSetTotal(pd, total);
    RECT bar = ClientRectOf(window, IDC_BAR);
    // Paint the bar area red behind the dialog's back: only a real redraw changes it.
    HDC dc = GetDC(window);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &bar, red);
    DeleteObject(red);
    ReleaseDC(window, dc);
    ProgressDialogStep(pd);
    ProgressDialogStep(pd);   // 2 units: still no block
    {
        Capture shot(window);
        EXPECT_EQ(Hex(RGB(255, 0, 0)), Hex(shot.At(bar.left + 5, bar.top + 5)))
            << "a step that adds no block redrew the bar";
    }
    ProgressDialogStep(pd);   // 3 units: the first block
    Capture shot(window);
    ExpectBar(shot, bar, pd, 1, RGB(255, 0, 0), "after the first block");
    RECT frame = bar;
    InflateRect(&frame, -2, -2);
    EXPECT_EQ(Hex(GetSysColor(COLOR_BTNSHADOW)), Hex(shot.At(frame.left, frame.top + 3)));
    // A full repaint starts again from the dialog background.
    ProgressDialogRefreshBar(pd);
    Capture again(window);
    ExpectBar(again, bar, pd, 1, GetSysColor(COLOR_BTNFACE), "after a refresh");
}

TEST_F(DialogTest, TotalZeroNeverDrawsABlock)
{
    Open(Self(), "Parlomatic", true);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(0, ProgressDialogStep(pd));
    EXPECT_EQ(0, pd->current);
    ProgressDialogRefreshBar(pd);
    Capture shot(window);
    RECT bar = ClientRectOf(window, IDC_BAR);
    for (int y = bar.top; y < bar.bottom; y++)
        for (int x = bar.left; x < bar.right; x++)
            ASSERT_EQ(Hex(GetSysColor(COLOR_BTNFACE)), Hex(shot.At(x, y)))
                << "something drawn at " << x - bar.left << "," << y - bar.top;
}

// Expected pixels of mark i's area with the tick set.
void ExpectMark(const Capture &shot, HWND window, int i, bool set)
{
    ResourceBitmap tick;
    ASSERT_TRUE(tick.Load(Self(), IDB_CHECK));
    RECT r = ClientRectOf(window, IDC_MARK0 + i);
    RECT client;
    GetClientRect(GetDlgItem(window, IDC_MARK0), &client);
    int ox = (client.right - tick.w) / 2, oy = (client.bottom - tick.h) / 2;
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int y = 0; y < client.bottom; y++)
        for (int x = 0; x < client.right; x++) {
            COLORREF want = face;
            int tx = x - ox, ty = y - oy;
            if (set && tx >= 0 && ty >= 0 && tx < tick.w && ty < tick.h &&
                tick.At(tx, ty) != SILVER)
                want = tick.At(tx, ty);
            ASSERT_EQ(Hex(want), Hex(shot.At(r.left + x, r.top + y)))
                << "mark " << i << (set ? " (set)" : " (clear)") << " pixel " << x << "," << y;
        }
}

TEST_F(DialogTest, MarksAppearAtOnceAndSurviveRepaints)
{
    Open(Self(), "Parlomatic", true);
    ProgressDialogSetMark(pd, 2);
    ProgressDialogSetMark(pd, 5);
    {
        Capture shot(window);
        for (int i = 0; i < PD_MARK_COUNT; i++)
            ExpectMark(shot, window, i, i == 2 || i == 5);
    }
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    Capture shot(window);
    for (int i = 0; i < PD_MARK_COUNT; i++)
        ExpectMark(shot, window, i, i == 2 || i == 5);
}

TEST_F(DialogTest, PictureSitsCentredOnTealInsideASunkenFrame)
{
    Open(Self(), "Parlomatic", true);
    ResourceBitmap art;
    ASSERT_TRUE(art.Load(Self(), IDB_PICTURE));
    RECT area = ClientRectOf(window, IDC_PICTURE);
    RECT client;
    GetClientRect(GetDlgItem(window, IDC_PICTURE), &client);
    int cw = client.right, ch = client.bottom;
    ASSERT_GE(cw, art.w) << "the picture does not fit its place";
    ASSERT_GE(ch, art.h);
    int ox = (cw - art.w) / 2, oy = (ch - art.h) / 2;
    RECT frame = {0, 0, cw, ch - 2};
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    Capture shot(window);
    int teal = 0;
    for (int y = 0; y < ch; y++)
        for (int x = 0; x < cw; x++) {
            COLORREF want = FramePixel(frame, x, y, shadow, WHITE);
            if (want == CLR_INVALID) {
                want = TEAL;
                int sx = x - ox, sy = y - oy;
                if (sx >= 0 && sy >= 0 && sx < art.w && sy < art.h)
                    want = art.At(sx, sy);
            }
            teal += want == TEAL;
            ASSERT_EQ(Hex(want), Hex(shot.At(area.left + x, area.top + y)))
                << "picture pixel " << x << "," << y;
        }
    EXPECT_GT(teal, cw * ch / 3) << "the transparent background should show the fill";
}

TEST_F(DialogTest, OkWorksOnlyAfterFinish)
{
    Open(Self(), "Parlomatic", true);
    HWND ok = GetDlgItem(window, IDOK);
    // Nothing ends or closes the dialog while the run goes on.
    EXPECT_FALSE(PressKey(window, VK_RETURN)) << "Enter";
    EXPECT_FALSE(PressKey(window, VK_ESCAPE)) << "Esc";
    SendMessageA(window, WM_CLOSE, 0, 0);
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(window, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(ok));
    SendMessageA(ok, BM_CLICK, 0, 0);
    EXPECT_FALSE(Pump(window)) << "a quit request while OK is disabled";
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));

    EXPECT_EQ(0, ProgressDialogFinish(pd));
    EXPECT_TRUE(IsWindowEnabled(ok));
    EXPECT_EQ(ok, GetFocus());
    EXPECT_FALSE(PressKey(window, VK_ESCAPE)) << "Esc after finish";
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(Pump(window));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(PressKey(window, VK_RETURN)) << "Enter after finish posts no quit request";
    SendMessageA(ok, BM_CLICK, 0, 0);
    EXPECT_TRUE(Pump(window)) << "a click on OK posts no quit request";
    // Another command id with the same low word but a notification code is not OK.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS), 0);
    EXPECT_FALSE(Pump(window));
}

struct RuleCase { Platform platform; int height; };

TEST_F(DialogTest, RuleIsEtchedOnWindows4AndWith3dControls)
{
    const RuleCase cases[] = {
        {{1, 0, 0, 0, 0}, 2}, {{0, 0, 1, 1, 1}, 2}, {{0, 0, 1, 0, 1}, 1}, {{0, 1, 0, 0, 0}, 1},
        {{0, 0, 0, 0, 0}, 1},
    };
    for (const RuleCase &c : cases) {
        SCOPED_TRACE("windows4 " + std::to_string(c.platform.isWindows4) + " ctl3d " +
                     std::to_string(c.platform.ctl3dLoaded));
        PlatformSet(&c.platform);
        Open(Self(), "Parlomatic", true);
        HWND separator = GetDlgItem(window, IDC_SEPARATOR);
        EXPECT_FALSE(IsWindowVisible(separator));
        EXPECT_FALSE(IsWindowEnabled(separator));
        HWND line = FindCutLine(window);
        ASSERT_NE(nullptr, line);
        RECT want = ClientRectOf(window, IDC_SEPARATOR), got;
        GetWindowRect(line, &got);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&got), 2);
        EXPECT_EQ(want.left, got.left);
        EXPECT_EQ(want.top, got.top);
        EXPECT_EQ(want.right - want.left, got.right - got.left);
        EXPECT_EQ(c.height, got.bottom - got.top);
        Capture shot(window);
        int mid = (got.left + got.right) / 2;
        EXPECT_EQ(Hex(c.height == 2 ? GetSysColor(COLOR_BTNSHADOW) : BLACK),
                  Hex(shot.At(mid, got.top)));
        if (c.height == 2) {
            EXPECT_EQ(Hex(RGB(255, 251, 255)), Hex(shot.At(mid, got.top + 1)));
        }
        ProgressDialogDestroy(pd);
        pd = nullptr;
    }
}

// ---- The second template: placeholders, missing parts ------------------------------------------

class AltDialogTest : public DialogTest {
protected:
    HMODULE alt = nullptr;
    void SetUp() override
    {
        DialogTest::SetUp();
        alt = LoadLibraryA(UnixToWine(PROGRESS_ALT_DLL).c_str());
        ASSERT_NE(nullptr, alt) << PROGRESS_ALT_DLL;
    }
    void TearDown() override
    {
        DialogTest::TearDown();
        if (alt)
            FreeLibrary(alt);
    }
};

TEST_F(AltDialogTest, HeadingTakesTheProductNameAtItsPlaceholder)
{
    const char *tail = " Este texto es largo a propósito para que un nombre de producto de "
                       "noventa y nueve letras no quepa entero en la línea.";
    struct Case { std::string name; std::string heading; };
    std::string longName(99, 'N');
    std::string cut = ("Quitar " + longName + ": 100% listo %d." + tail).substr(0, 199);
    const Case cases[] = {
        {"Parlomatic", std::string("Quitar Parlomatic: 100% listo %d.") + tail},
        {"", std::string("Quitar : 100% listo %d.") + tail},
        {"50% %s %n", std::string("Quitar 50% %s %n: 100% listo %d.") + tail},
        {longName, cut},
    };
    for (const Case &c : cases) {
        Open(alt, c.name.c_str(), false);
        char text[400] = "";
        GetDlgItemTextA(window, IDC_HEADING, text, sizeof text);
        EXPECT_EQ(c.heading, std::string(text)) << "name '" << c.name << "'";
        ProgressDialogDestroy(pd);
        pd = nullptr;
    }
}

TEST_F(AltDialogTest, MissingPartsAreHarmless)
{
    Open(alt, "Parlomatic", true);
    // A one-pixel-high bar takes a pitch of 5.
    RECT bar = ClientRectOf(window, IDC_BAR);
    int inner = bar.bottom - bar.top - 4;
    EXPECT_EQ(inner - 1 == 0 ? 5 : inner - 1, pd->blockPitch) << "bar height " << inner + 4;
    EXPECT_EQ(nullptr, pd->check);
    EXPECT_EQ(nullptr, pd->picture);
    ProgressDialogSetMessage(pd, "nada");
    ProgressDialogSetMark(pd, 0);
    EXPECT_EQ(1, pd->marks[0]);
    ProgressDialogSetTotal(pd, 2);
    ProgressDialogStep(pd);
    ProgressDialogStep(pd);
    ProgressDialogFinish(pd);
    Settle(window);
    Capture shot(window);
    ExpectMark(shot, window, 0, false);
    // The grey frame is a real frame, not a rule: it stays.
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, IDC_SEPARATOR)));
    EXPECT_EQ(nullptr, FindCutLine(window));
}

// ---- The finished dialog, saved for a person to look at -----------------------------------------

bool SaveWindowBmp(HWND window, const std::string &path)
{
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *pixels = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD size = ((w * 3 + 3) & ~3) * h;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &written, nullptr) &&
              WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
              WriteFile(out, pixels, size, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

TEST_F(DialogTest, FinishedDialogScreenshot)
{
    Open(Self(), "Parlomatic", true);
    ProgressDialogSetMessage(pd, "");
    ProgressDialogSetTotal(pd, 40);
    ProgressDialogRefreshBar(pd);
    const int markAfter[] = {4, 10, 16, 24, 30, 40};
    for (int step = 1, mark = 0; step <= 40; step++) {
        ProgressDialogStep(pd);
        if (mark < PD_MARK_COUNT && step == markAfter[mark])
            ProgressDialogSetMark(pd, mark++);
    }
    char done[200];
    LoadStringA(Self(), ENGINE_TEXT_DONE, done, sizeof done);
    ProgressDialogFinish(pd);
    ProgressDialogSetMessage(pd, done);
    Settle(window);
    Capture shot(window);
    RECT bar = ClientRectOf(window, IDC_BAR);
    ExpectBar(shot, bar, pd, pd->blocksAcross, GetSysColor(COLOR_BTNFACE), "finished");
    for (int i = 0; i < PD_MARK_COUNT; i++)
        ExpectMark(shot, window, i, true);

    std::string dir = UnixToWine(REMOVER_SCREENSHOT_DIR);
    CreateDirectoryA(dir.c_str(), nullptr);
    EXPECT_TRUE(SaveWindowBmp(window, dir + "\\progress-finished.bmp")) << dir;
}

}  // namespace
