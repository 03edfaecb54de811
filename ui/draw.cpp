#include "ui/draw.h"

static const char CUT_CLASS[] = "CutClsName";
static const char CUT_TITLE[] = "CutWinName";
constexpr int CUT_WINDOW_EXTRA = 4;   // the line's style: 1 etched, 0 plain
constexpr int CUT_LINE_ID = 0xFFFF;

static int cutClassRegistered;

void DrawSunkenFrame(HDC dc, const RECT *r)
{
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    // On a white face a white highlight would vanish: draw both edges in the shadow colour.
    COLORREF light = GetSysColor(COLOR_BTNFACE) == RGB(255, 255, 255) ? shadow
                                                                       : RGB(255, 255, 255);
    int saved = SaveDC(dc);
    HPEN shadowPen = CreatePen(PS_SOLID, 1, shadow);
    HPEN lightPen = CreatePen(PS_SOLID, 1, light);
    SelectObject(dc, shadowPen);
    MoveToEx(dc, r->left, r->bottom, nullptr);
    LineTo(dc, r->left, r->top);
    LineTo(dc, r->right, r->top);
    SelectObject(dc, lightPen);
    MoveToEx(dc, r->left + 1, r->bottom + 1, nullptr);
    LineTo(dc, r->right - 1, r->bottom + 1);
    LineTo(dc, r->right - 1, r->top);
    RestoreDC(dc, saved);
    DeleteObject(shadowPen);
    DeleteObject(lightPen);
}

HBITMAP CopyDcArea(HDC dc, const RECT *r)
{
    int w = r->right - r->left;
    int h = r->bottom - r->top;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory)
        return nullptr;
    HBITMAP copy = CreateCompatibleBitmap(dc, w, h);
    if (copy) {
        HGDIOBJ old = SelectObject(memory, copy);
        BitBlt(memory, 0, 0, w, h, dc, r->left, r->top, SRCCOPY);
        SelectObject(memory, old);
    }
    DeleteDC(memory);
    return copy;
}

// A memory context holding bitmap; *old receives what it displaced.
static HDC MemoryWith(HDC dc, HBITMAP bitmap, HGDIOBJ *old)
{
    HDC memory = CreateCompatibleDC(dc);
    *old = memory ? SelectObject(memory, bitmap) : nullptr;
    return memory;
}

static void ReleaseMemory(HDC memory, HGDIOBJ old)
{
    if (!memory)
        return;
    SelectObject(memory, old);
    DeleteDC(memory);
}

HBITMAP MaskBlend(HDC dc, const RECT *r, HBITMAP source, HBITMAP *saved, COLORREF key)
{
    int w = r->right - r->left;
    int h = r->bottom - r->top;
    *saved = CopyDcArea(dc, r);
    int state = SaveDC(dc);
    HBITMAP canvas = CreateCompatibleBitmap(dc, w, h);
    HBITMAP temporary = CreateCompatibleBitmap(dc, w, h);
    HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
    HBITMAP copy = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ oldCanvas, oldTemporary, oldBackground, oldMask, oldSource, oldCopy;
    HDC canvasDc = MemoryWith(dc, canvas, &oldCanvas);
    HDC temporaryDc = MemoryWith(dc, temporary, &oldTemporary);
    HDC backgroundDc = MemoryWith(dc, *saved, &oldBackground);
    HDC maskDc = MemoryWith(dc, mask, &oldMask);
    HDC sourceDc = MemoryWith(dc, source, &oldSource);
    HDC copyDc = MemoryWith(dc, copy, &oldCopy);
    int ok = canvas && temporary && mask && copy && *saved && canvasDc && temporaryDc &&
             backgroundDc && maskDc && sourceDc && copyDc;
    if (ok) {
        // The colour-to-monochrome copy turns key pixels white: that is the mask.
        SetBkColor(sourceDc, key);
        BitBlt(copyDc, 0, 0, w, h, sourceDc, 0, 0, SRCCOPY);
        BitBlt(maskDc, 0, 0, w, h, sourceDc, 0, 0, SRCCOPY);
        BitBlt(canvasDc, 0, 0, w, h, maskDc, 0, 0, SRCCOPY);
        BitBlt(temporaryDc, 0, 0, w, h, maskDc, 0, 0, NOTSRCCOPY);
        BitBlt(temporaryDc, 0, 0, w, h, copyDc, 0, 0, SRCAND);
        BitBlt(canvasDc, 0, 0, w, h, backgroundDc, 0, 0, SRCAND);
        BitBlt(canvasDc, 0, 0, w, h, temporaryDc, 0, 0, SRCPAINT);
    }
    ReleaseMemory(canvasDc, oldCanvas);
    ReleaseMemory(temporaryDc, oldTemporary);
    ReleaseMemory(backgroundDc, oldBackground);
    ReleaseMemory(maskDc, oldMask);
    ReleaseMemory(sourceDc, oldSource);
    ReleaseMemory(copyDc, oldCopy);
    if (temporary)
        DeleteObject(temporary);
    if (mask)
        DeleteObject(mask);
    if (copy)
        DeleteObject(copy);
    RestoreDC(dc, state);
    if (!ok && canvas) {
        DeleteObject(canvas);
        canvas = nullptr;
    }
    return canvas;
}

// Fills a new w x h bitmap compatible with dc with colour; selected into the returned context.
static HDC FilledCanvas(HDC dc, int w, int h, COLORREF colour, HBITMAP *bitmap, HGDIOBJ *old)
{
    *bitmap = CreateCompatibleBitmap(dc, w, h);
    if (!*bitmap)
        return nullptr;
    HDC memory = MemoryWith(dc, *bitmap, old);
    if (!memory) {
        DeleteObject(*bitmap);
        *bitmap = nullptr;
        return nullptr;
    }
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(memory, brush);
    HGDIOBJ oldPen = SelectObject(memory, GetStockObject(NULL_PEN));
    // A null pen leaves the right and bottom edges out: reach one pixel further.
    Rectangle(memory, 0, 0, w + 1, h + 1);
    SelectObject(memory, oldPen);
    SelectObject(memory, oldBrush);
    DeleteObject(brush);
    return memory;
}

HBITMAP ComposePicture(HWND dialog, HBITMAP source, COLORREF fill, COLORREF key, int id)
{
    HWND control = GetDlgItem(dialog, id);
    BITMAP info;
    if (!control || !source || !GetObjectA(source, sizeof info, &info)) {
        if (source)
            DeleteObject(source);
        return nullptr;
    }
    RECT area;
    GetClientRect(control, &area);
    HDC dc = GetDC(dialog);
    HBITMAP result;
    HGDIOBJ oldResult;
    HDC canvas = FilledCanvas(dc, area.right, area.bottom, fill, &result, &oldResult);
    if (canvas) {
        RECT sourceArea = {0, 0, info.bmWidth, info.bmHeight};
        HBITMAP saved = nullptr;
        HBITMAP blended = MaskBlend(canvas, &sourceArea, source, &saved, key);
        if (blended) {
            HGDIOBJ oldBlended;
            HDC blendedDc = MemoryWith(canvas, blended, &oldBlended);
            BitBlt(canvas, (area.right - info.bmWidth) / 2, (area.bottom - info.bmHeight) / 2,
                   info.bmWidth, info.bmHeight, blendedDc, 0, 0, SRCCOPY);
            ReleaseMemory(blendedDc, oldBlended);
            DeleteObject(blended);
        }
        if (saved)
            DeleteObject(saved);
        ReleaseMemory(canvas, oldResult);
        if (!blended) {
            DeleteObject(result);
            result = nullptr;
        }
    }
    ReleaseDC(dialog, dc);
    DeleteObject(source);
    return result;
}

void CenterWindow(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    int x = (GetSystemMetrics(SM_CXSCREEN) + r.left - r.right) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) + r.top - r.bottom) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ReplaceSeparators(HWND dialog, int style3d)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ReplaceSeparator(child, dialog, style3d);
}

static int IsSeparator(HWND child)
{
    if ((GetWindowLongPtrA(child, GWLP_ID) & 0xFFFF) != DRAW_SEPARATOR_ID)
        return 0;
    RECT r;
    GetWindowRect(child, &r);
    if (r.bottom - r.top > DRAW_SEPARATOR_MAX_HEIGHT)
        return 0;
    char className[16];
    if (!GetClassNameA(child, className, sizeof className) || lstrcmpiA(className, "static") != 0)
        return 0;
    return (GetWindowLongPtrA(child, GWL_STYLE) & 0xF) == SS_BLACKFRAME;
}

HWND ReplaceSeparator(HWND child, HWND dialog, int style3d)
{
    RegisterCutClass();
    if (!IsWindow(child) || !IsWindow(dialog) || !IsSeparator(child))
        return nullptr;
    RECT r;
    GetWindowRect(child, &r);
    POINT corner = {r.left, r.top};
    ScreenToClient(dialog, &corner);
    HWND line = CreateWindowExA(0, CUT_CLASS, CUT_TITLE, WS_CHILD | WS_VISIBLE, corner.x,
                                corner.y, r.right - r.left, style3d ? 2 : 1, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(CUT_LINE_ID)),
                                GetModuleHandleA(nullptr), nullptr);
    if (!line)
        return nullptr;
    SetWindowLongA(line, 0, style3d ? 1 : 0);
    ShowWindow(child, SW_HIDE);
    EnableWindow(child, FALSE);
    ShowWindow(line, SW_SHOW);
    return line;
}

int RegisterCutClass()
{
    if (cutClassRegistered)
        return 1;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    if (!GetClassInfoA(instance, CUT_CLASS, &wc)) {
        wc = WNDCLASSA{};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = CutLineWndProc;
        wc.cbWndExtra = CUT_WINDOW_EXTRA;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = CUT_CLASS;
        if (!RegisterClassA(&wc))
            return 0;
    }
    cutClassRegistered = 1;
    return 1;
}

static void OnCutPaint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left;
    int style3d = GetWindowLongA(window, 0);
    HPEN penA = CreatePen(PS_SOLID, 1, style3d ? GetSysColor(COLOR_BTNSHADOW) : RGB(0, 0, 0));
    HPEN penB = style3d ? CreatePen(PS_SOLID, 1, DRAW_RULE_LIGHT) : nullptr;
    HGDIOBJ old = SelectObject(dc, penA);
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, w, 0);
    if (penB) {
        SelectObject(dc, penB);
        MoveToEx(dc, 0, 1, nullptr);
        LineTo(dc, w, 1);
    }
    SelectObject(dc, old);
    EndPaint(window, &ps);
    DeleteObject(penA);
    if (penB)
        DeleteObject(penB);
}

LRESULT CALLBACK CutLineWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        OnCutPaint(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
