#define PROGRESS_DIALOG_INTERNAL
#include "ui/progress_internal.h"

#include "base/platform.h"
#include "base/pool.h"
#include "ui/draw.h"
#include "ui/progress_res.h"

static ProgressDialog *DialogOf(HWND window)
{
    return reinterpret_cast<ProgressDialog *>(GetWindowLongPtrA(window, DWLP_USER));
}

// The control's window rectangle moved into the dialog's client coordinates; empty when the
// control does not exist.
static RECT ControlRect(HWND dialog, int id)
{
    RECT r = {0, 0, 0, 0};
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return r;
    GetWindowRect(control, &r);
    POINT corner = {r.left, r.top};
    ScreenToClient(dialog, &corner);
    OffsetRect(&r, corner.x - r.left, corner.y - r.top);
    return r;
}

static void DrawBitmapAt(HDC dc, HBITMAP bitmap, int x, int y)
{
    BITMAP info;
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info))
        return;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

static void DrawMark(ProgressDialog *pd, HDC dc, int i)
{
    if (!pd->check || !pd->marks[i])
        return;
    RECT r = ControlRect(pd->window, IDC_MARK0 + i);
    DrawBitmapAt(dc, pd->check, r.left, r.top);
}

static void DrawPicture(ProgressDialog *pd, HDC dc)
{
    RECT r = ControlRect(pd->window, IDC_PICTURE);
    DrawBitmapAt(dc, pd->picture, r.left, r.top);
}

// Blocks of a bar with current of total units; never more than a full bar.
static int BlocksFor(const ProgressDialog *pd, int current)
{
    if (pd->total <= 0 || current <= 0)
        return 0;
    long long n = static_cast<long long>(current) * pd->blocksAcross / pd->total;
    return n > pd->blocksAcross ? pd->blocksAcross : static_cast<int>(n);
}

static void DrawBar(ProgressDialog *pd, HDC dc)
{
    if (pd->total <= 0)
        return;
    int n = BlocksFor(pd, pd->current);
    int saved = SaveDC(dc);
    RECT r = ControlRect(pd->window, IDC_BAR);
    InflateRect(&r, -2, -2);
    DrawSunkenFrame(dc, &r);
    InflateRect(&r, -2, -2);
    HBRUSH brush = CreateSolidBrush(PD_BLOCK_COLOUR);
    SelectObject(dc, GetStockObject(NULL_PEN));
    SelectObject(dc, brush);
    // With the null pen each block stops 2 pixels short of the next one's left edge.
    for (int i = 0; i < n; i++) {
        int left = r.left + i * pd->blockPitch;
        Rectangle(dc, left, r.top, left + pd->blockPitch - 1, r.bottom + 1);
    }
    RestoreDC(dc, saved);
    DeleteObject(brush);
}

// Copies at most size - 1 bytes of whole characters of src.
static void CopyText(char *out, int size, const char *src)
{
    int used = 0;
    while (src && *src) {
        const char *next = CharNextA(src);
        int n = static_cast<int>(next - src);
        if (n <= 0 || used + n > size - 1)
            break;
        for (int i = 0; i < n; i++)
            out[used++] = src[i];
        src = next;
    }
    out[used] = 0;
}

// The heading with the product name at its "%s" ("%%" is a percent sign). Any other '%'
// stays as it is: the text is a template, never a format that could read missing arguments.
static void FormatHeading(char *out, int size, const char *heading, const char *name)
{
    char expanded[PD_HEADING_SIZE + PD_NAME_SIZE];
    int used = 0, named = 0;
    const char *p = heading;
    while (*p && used < static_cast<int>(sizeof expanded) - 1) {
        if (p[0] == '%' && p[1] == 's' && !named) {
            CopyText(expanded + used, sizeof expanded - used, name);
            used += lstrlenA(expanded + used);
            named = 1;
            p += 2;
            continue;
        }
        if (p[0] == '%' && p[1] == '%')
            p++;
        const char *next = CharNextA(p);
        while (p < next && used < static_cast<int>(sizeof expanded) - 1)
            expanded[used++] = *p++;
        p = next;
    }
    expanded[used] = 0;
    CopyText(out, size, expanded);
}

static void SetupBarGeometry(ProgressDialog *pd)
{
    RECT r = ControlRect(pd->window, IDC_BAR);
    InflateRect(&r, -2, -2);
    pd->blockPitch = r.bottom - r.top - 1;
    if (pd->blockPitch == 0)
        pd->blockPitch = 5;
    // A placeholder too small for any block gives an empty bar, never a division by zero.
    pd->blocksAcross = pd->blockPitch > 0 ? (r.right - r.left) / pd->blockPitch : 0;
    if (pd->blocksAcross < 0)
        pd->blocksAcross = 0;
}

// FALSE: the dialog manager sets no focus; OK, the only control that could take it, is disabled.
static BOOL OnInitDialog(HWND window, ProgressDialog *pd)
{
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(pd));
    pd->window = window;
    ReplaceSeparators(window, PlatformUses3dLook());
    HBITMAP picture = LoadBitmapA(pd->instance, MAKEINTRESOURCEA(IDB_PICTURE));
    HBITMAP check = LoadBitmapA(pd->instance, MAKEINTRESOURCEA(IDB_CHECK));
    pd->check = ComposePicture(window, check, GetSysColor(COLOR_BTNFACE), PD_CHECK_KEY,
                               IDC_MARK0);
    pd->picture = ComposePicture(window, picture, PD_PICTURE_KEY, PD_PICTURE_KEY, IDC_PICTURE);
    BITMAP info;
    if (pd->picture && GetObjectA(pd->picture, sizeof info, &info)) {
        HDC dc = GetDC(window);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, pd->picture);
        RECT frame = {0, 0, info.bmWidth, info.bmHeight - 2};
        DrawSunkenFrame(memory, &frame);
        SelectObject(memory, old);
        DeleteDC(memory);
        ReleaseDC(window, dc);
    }
    SetupBarGeometry(pd);
    char heading[PD_HEADING_SIZE];
    if (GetDlgItemTextA(window, IDC_HEADING, heading, sizeof heading)) {
        char text[PD_HEADING_SIZE];
        FormatHeading(text, sizeof text, heading, pd->productName);
        SetDlgItemTextA(window, IDC_HEADING, text);
    }
    CenterWindow(window);
    return FALSE;
}

static BOOL OnPaint(HWND window, ProgressDialog *pd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    for (int i = 0; i < PD_MARK_COUNT; i++)
        DrawMark(pd, dc, i);
    DrawBar(pd, dc);
    DrawPicture(pd, dc);
    EndPaint(window, &ps);
    return TRUE;
}

// Every command counts as handled: the run cannot be cancelled (Esc and the close box do
// nothing), and only a click on the enabled OK button ends it.
static BOOL OnCommand(HWND window, WPARAM wParam)
{
    if (wParam == IDOK && IsWindowEnabled(GetDlgItem(window, IDOK)))
        PostQuitMessage(0);
    return TRUE;
}

static BOOL OnDestroy(HWND window, ProgressDialog *pd)
{
    SetWindowLongPtrA(window, DWLP_USER, 0);
    if (pd->picture)
        DeleteObject(pd->picture);
    if (pd->check)
        DeleteObject(pd->check);
    // A window lost while still being created leaves the pool to ProgressDialogCreate.
    if (pd->created)
        PoolDestroy(pd->pool);
    return TRUE;
}

static INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog(window, reinterpret_cast<ProgressDialog *>(lParam));
    ProgressDialog *pd = DialogOf(window);
    if (!pd)
        return FALSE;
    switch (message) {
    case WM_PAINT:
        return OnPaint(window, pd);
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_DESTROY:
        return OnDestroy(window, pd);
    default:
        return FALSE;
    }
}

ProgressDialog *ProgressDialogCreate(HINSTANCE instance, const char *productName)
{
    int pool = PoolCreate(PD_POOL_BLOCK, PD_POOL_FLAGS);
    if (pool == -1)
        return nullptr;
    auto *pd = static_cast<ProgressDialog *>(PoolAlloc(pool, sizeof(ProgressDialog)));
    if (!pd) {
        PoolDestroy(pool);
        return nullptr;
    }
    pd->pool = pool;
    pd->instance = instance;
    pd->total = 0;
    pd->current = 0;
    for (int i = 0; i < PD_MARK_COUNT; i++)
        pd->marks[i] = 0;
    pd->created = 0;
    CopyText(pd->productName, sizeof pd->productName, productName);
    HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                     ProgressDialogProc, reinterpret_cast<LPARAM>(pd));
    if (!window) {
        PoolDestroy(pool);
        return nullptr;
    }
    pd->window = window;
    pd->created = 1;
    return pd;
}

int ProgressDialogDestroy(ProgressDialog *dialog)
{
    if (!dialog)
        return -1;
    if (IsWindow(dialog->window))
        DestroyWindow(dialog->window);
    return 0;
}

HWND ProgressDialogGetWindow(ProgressDialog *dialog)
{
    return dialog ? dialog->window : nullptr;
}

void ProgressDialogSetTotal(ProgressDialog *dialog, int total)
{
    if (dialog)
        dialog->total = total;
}

void ProgressDialogSetMessage(ProgressDialog *dialog, const char *text)
{
    if (dialog && GetDlgItem(dialog->window, IDC_MESSAGE))
        SetDlgItemTextA(dialog->window, IDC_MESSAGE, text ? text : "");
}

void ProgressDialogSetMark(ProgressDialog *dialog, int index)
{
    if (!dialog || index < 0 || index >= PD_MARK_COUNT)
        return;
    dialog->marks[index] = 1;
    HDC dc = GetDC(dialog->window);
    DrawMark(dialog, dc, index);
    ReleaseDC(dialog->window, dc);
}

int ProgressDialogStep(ProgressDialog *dialog)
{
    if (!dialog)
        return -1;
    if (dialog->total <= 0) {
        // No bar to fill: keep current clamped and divide by nothing.
        if (dialog->current >= dialog->total)
            dialog->current = dialog->total;
        return 0;
    }
    int before = BlocksFor(dialog, dialog->current);
    if (dialog->current < dialog->total)
        dialog->current++;
    else
        dialog->current = dialog->total;
    if (BlocksFor(dialog, dialog->current) != before) {
        HDC dc = GetDC(dialog->window);
        DrawBar(dialog, dc);
        ReleaseDC(dialog->window, dc);
    }
    return 0;
}

static void RepaintBar(ProgressDialog *pd)
{
    RECT r = ControlRect(pd->window, IDC_BAR);
    InvalidateRect(pd->window, &r, TRUE);
    UpdateWindow(pd->window);
}

int ProgressDialogRefreshBar(ProgressDialog *dialog)
{
    if (!dialog)
        return -1;
    RepaintBar(dialog);
    return 0;
}

int ProgressDialogFinish(ProgressDialog *dialog)
{
    if (!dialog)
        return -1;
    RepaintBar(dialog);
    HWND ok = GetDlgItem(dialog->window, IDOK);
    EnableWindow(ok, TRUE);
    SetFocus(ok);
    if (IsWindowVisible(dialog->window))
        MessageBeep(0);
    return 0;
}
