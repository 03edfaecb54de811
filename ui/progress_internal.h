// The progress dialog's record: private to ui/progress.cpp, and readable by tests, which build
// with REMOVER_TESTING, to check what the dialog holds against what it draws.
#pragma once

#if !defined(PROGRESS_DIALOG_INTERNAL) && !defined(REMOVER_TESTING)
#error "ui/progress_internal.h is private to the progress dialog"
#endif

#include "base/pool.h"
#include "ui/progress.h"

constexpr int PD_NAME_SIZE = 100;       // product name buffer (99 characters)
constexpr int PD_HEADING_SIZE = 200;    // heading text buffer (199 characters)
constexpr int PD_POOL_BLOCK = 1000;
constexpr int PD_POOL_FLAGS = POOL_DEFAULT | POOL_GROW | POOL_ZERO;
constexpr COLORREF PD_BLOCK_COLOUR = RGB(0, 0, 128);
constexpr COLORREF PD_PICTURE_KEY = RGB(0, 128, 128);   // also the picture's background fill
constexpr COLORREF PD_CHECK_KEY = RGB(192, 192, 192);

struct ProgressDialog {
    int pool;                   // the dialog's own pool; the record is its first block
    HINSTANCE instance;         // module holding the template and the bitmaps
    HBITMAP picture;            // composed picture, framed
    HBITMAP check;              // composed tick
    int marks[PD_MARK_COUNT];   // non-zero: drawn; never cleared
    int total;                  // units of the whole run
    int current;                // units done, never above total
    int blocksAcross;           // blocks in a full bar
    int blockPitch;             // pixels from one block's left edge to the next
    char productName[PD_NAME_SIZE];
    HWND window;
    int created;                // CreateDialogParamA returned: the window owns the pool now
};
