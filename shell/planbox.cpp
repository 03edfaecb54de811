// The window of an interactive plan (see planbox.h).
#include "shell/planbox.h"

#include "engine/report.h"
#include "shell/remover_res.h"

static constexpr int PLAN_TEXT_SIZE = 501;
static constexpr int PLAN_MARGIN = 8;      // pixels around and between the controls
static constexpr int PLAN_LINE_SIZE = 2048;

// Puts the report's lines into the list, and the list's scroll width to the widest of them.
static void FillList(HWND list, const char *text)
{
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
    int widest = 0;
    char line[PLAN_LINE_SIZE];
    while (*text) {
        int n = 0;
        while (text[n] && text[n] != '\r' && text[n] != '\n')
            ++n;
        int kept = n < PLAN_LINE_SIZE - 1 ? n : PLAN_LINE_SIZE - 1;
        CopyMemory(line, text, kept);
        line[kept] = '\0';
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
        SIZE size;
        if (GetTextExtentPoint32A(dc, line, kept, &size) && size.cx > widest)
            widest = size.cx;
        text += n;
        if (*text == '\r')
            ++text;
        if (*text == '\n')
            ++text;
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, widest + PLAN_MARGIN, 0);
}

static void Layout(HWND dialog)
{
    RECT client;
    GetClientRect(dialog, &client);
    RECT button;
    GetWindowRect(GetDlgItem(dialog, IDOK), &button);
    int bw = button.right - button.left, bh = button.bottom - button.top;
    RECT counts;
    GetWindowRect(GetDlgItem(dialog, IDC_PLAN_COUNTS), &counts);
    int ch = counts.bottom - counts.top;
    int width = client.right - 2 * PLAN_MARGIN;
    int buttonsTop = client.bottom - PLAN_MARGIN - bh;
    MoveWindow(GetDlgItem(dialog, IDC_PLAN_COUNTS), PLAN_MARGIN, PLAN_MARGIN, width, ch, TRUE);
    int listTop = 2 * PLAN_MARGIN + ch;
    MoveWindow(GetDlgItem(dialog, IDC_PLAN_LIST), PLAN_MARGIN, listTop, width,
               buttonsTop - PLAN_MARGIN - listTop, TRUE);
    MoveWindow(GetDlgItem(dialog, IDOK), client.right - PLAN_MARGIN - bw, buttonsTop, bw, bh, TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_PLAN_COPY), client.right - 2 * (PLAN_MARGIN + bw),
               buttonsTop, bw, bh, TRUE);
}

// The plan as text on the clipboard, for a mail or a ticket.
static void CopyPlan(HWND dialog)
{
    const char *text = ReportText();
    SIZE_T size = static_cast<SIZE_T>(lstrlenA(text)) + 1;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    char *p = copy ? static_cast<char *>(GlobalLock(copy)) : nullptr;
    if (!p) {
        if (copy)
            GlobalFree(copy);
        return;
    }
    CopyMemory(p, text, size);
    GlobalUnlock(copy);
    if (!OpenClipboard(dialog)) {
        GlobalFree(copy);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, copy))
        GlobalFree(copy);
    CloseClipboard();
}

static INT_PTR OnInitDialog(HWND dialog, HINSTANCE instance)
{
    char format[PLAN_TEXT_SIZE], counts[PLAN_TEXT_SIZE + 48];
    ReportCounts c;
    ReportGetCounts(&c);
    LoadStringA(instance, IDS_PLAN_COUNTS, format, sizeof format);
    wsprintfA(counts, format, c.removed, c.restart, c.kept);
    SetDlgItemTextA(dialog, IDC_PLAN_COUNTS, counts);
    FillList(GetDlgItem(dialog, IDC_PLAN_LIST), ReportText());
    Layout(dialog);
    SetForegroundWindow(dialog);
    return TRUE;
}

static INT_PTR CALLBACK PlanProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<HINSTANCE>(lParam));
    case WM_SIZE:
        Layout(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PLAN_COPY:
            CopyPlan(dialog);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void PlanShow(HINSTANCE instance)
{
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PLAN), nullptr, PlanProc,
                    reinterpret_cast<LPARAM>(instance));
}
