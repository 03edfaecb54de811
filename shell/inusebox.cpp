// The files-in-use box (see inusebox.h).
#include "shell/inusebox.h"

#include "engine/holders.h"
#include "engine/report.h"
#include "engine/world.h"
#include "shell/remover_res.h"

static constexpr int IN_USE_TEXT_SIZE = 501;

struct InUseBox {
    HINSTANCE instance;
    const HolderList *list;
};

static void FillList(HWND dialog, const InUseBox *box)
{
    char format[IN_USE_TEXT_SIZE], line[1024];
    HWND list = GetDlgItem(dialog, IDC_IN_USE_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    LoadStringA(box->instance, IDS_IN_USE_ENTRY, format, sizeof format);
    int shown = box->list->programs < HOLDER_LIST_MAX ? box->list->programs : HOLDER_LIST_MAX;
    for (int i = 0; i < shown; ++i) {
        const Holder &h = box->list->program[i];
        wsprintfA(line, format, h.exe, static_cast<unsigned long>(h.pid));
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    if (box->list->programs > shown) {
        LoadStringA(box->instance, IDS_IN_USE_MORE, format, sizeof format);
        wsprintfA(line, format, box->list->programs - shown);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
}

static INT_PTR OnInitDialog(HWND dialog, LPARAM lParam)
{
    InUseBox *box = reinterpret_cast<InUseBox *>(lParam);
    char text[IN_USE_TEXT_SIZE];
    LoadStringA(box->instance, IDS_IN_USE_TEXT, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_IN_USE_TEXT, text);
    FillList(dialog, box);
    SetForegroundWindow(dialog);
    return TRUE;
}

static INT_PTR CALLBACK InUseProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDRETRY:
        case IDC_IN_USE_CONTINUE:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// The removal that follows reports whatever goes wrong; the plan asked first stays silent.
static int Quiet(int, const char *, int, Session *)
{
    return 1;
}

// Plans the removal (changing nothing, writing nothing to the report) for the programs holding
// the files it would find in use: the files are those the removal itself would meet, never a
// system file it refuses or a shared file others still count.
static void FindHolders(const char *logPath, HolderList *list)
{
    ReportMute(1);
    WorldPlan(logPath, Quiet, list);
    ReportMute(0);
}

int InUseAsk(HINSTANCE instance, const char *logPath)
{
    for (;;) {
        HolderList list;
        // A system that cannot tell who runs leaves it to the removal: held files then go at
        // the next restart as they would without the box.
        FindHolders(logPath, &list);
        if (list.files == 0)
            return IN_USE_GO_ON;
        InUseBox box = {instance, &list};
        INT_PTR answer = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_IN_USE), nullptr, InUseProc,
                                         reinterpret_cast<LPARAM>(&box));
        if (answer == IDC_IN_USE_CONTINUE)
            return IN_USE_GO_ON;
        if (answer != IDRETRY)
            return IN_USE_CANCEL;   // Cancel, the close box, or a box that could not be shown
    }
}
