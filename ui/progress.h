// The modeless progress dialog (template IDD_PROGRESS, ui/progress_res.h): a picture, a heading,
// six phase marks, a segmented bar, a message line, a rule and an OK button that only works once
// the run is finished. The dialog is opaque: its record lives in a pool of its own, freed with
// the window. Everything runs on the thread that owns the dialog.
#pragma once
#include <windows.h>

constexpr int PD_MARK_COUNT = 6;

struct ProgressDialog;

// Creates the dialog hidden, with no owner. Null when the pool, the record or the window
// cannot be had. A longer product name is cut to 99 characters.
ProgressDialog *ProgressDialogCreate(HINSTANCE instance, const char *productName);
// Destroys the window; its pool and the record go with it. 0; -1 for null.
int ProgressDialogDestroy(ProgressDialog *dialog);
// The dialog window; null for null.
HWND ProgressDialogGetWindow(ProgressDialog *dialog);

// The setters do nothing for a null dialog.
// Number of units of the whole run; nothing is redrawn.
void ProgressDialogSetTotal(ProgressDialog *dialog, int total);
// Text of the message line (null: empty); nothing when the template has no message line.
void ProgressDialogSetMessage(ProgressDialog *dialog, const char *text);
// Sets mark index (0..PD_MARK_COUNT-1) for good and draws it at once; other indexes do nothing.
void ProgressDialogSetMark(ProgressDialog *dialog, int index);

// One unit of progress; the bar is drawn only when its number of blocks changes. 0; -1 for null.
int ProgressDialogStep(ProgressDialog *dialog);
// Repaints the bar from the dialog background. 0; -1 for null.
int ProgressDialogRefreshBar(ProgressDialog *dialog);
// Finished state: bar repainted, OK enabled and focused, a beep when visible. 0; -1 for null.
int ProgressDialogFinish(ProgressDialog *dialog);
