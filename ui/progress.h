// The modeless progress dialog (template IDD_PROGRESS in remover's resources): a picture, a
// heading, six phase marks, a segmented bar, a message line, a rule and an OK button that only
// works once the run is finished. The record lives in a pool of its own, freed with the window.
// Everything runs on the thread that owns the dialog.
#pragma once
#include <windows.h>

constexpr int PD_TOTAL = 1;     // value: number of units of the whole run; nothing redrawn
constexpr int PD_MESSAGE = 2;   // value: const char * for the message line
constexpr int PD_MARK = 3;      // value: mark index 0..PD_MARK_COUNT-1, set and drawn at once
constexpr int PD_MARK_COUNT = 6;
constexpr int PD_NAME_SIZE = 100;       // product name buffer (99 characters)
constexpr int PD_HEADING_SIZE = 200;    // heading text buffer (199 characters)
constexpr int PD_POOL_BLOCK = 1000;
constexpr int PD_POOL_FLAGS = 0x1003;
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
};

// Creates the dialog hidden, with no owner. Null when the pool, the record or the window
// cannot be had. A longer product name is cut to 99 characters.
ProgressDialog *ProgressDialogCreate(HINSTANCE instance, const char *productName);
// Destroys the window; its pool and the record go with it. 0; -1 for null.
int ProgressDialogDestroy(ProgressDialog *dialog);
// The dialog window; null for null.
HWND ProgressDialogGetWindow(ProgressDialog *dialog);
// PD_TOTAL, PD_MESSAGE or PD_MARK; other kinds, marks out of range and a null dialog do
// nothing. Always 0.
int ProgressDialogSet(ProgressDialog *dialog, int kind, INT_PTR value);
// One unit of progress; the bar is drawn only when its number of blocks changes. 0; -1 for null.
int ProgressDialogStep(ProgressDialog *dialog);
// Repaints the bar from the dialog background. 0; -1 for null.
int ProgressDialogRefreshBar(ProgressDialog *dialog);
// Finished state: bar repainted, OK enabled and focused, a beep when visible. 0; -1 for null.
int ProgressDialogFinish(ProgressDialog *dialog);
