// GDI helpers that give the progress dialog its look without a common-controls library: a
// two-colour sunken frame, a picture composed onto a control-sized canvas with one colour
// transparent, centring on the screen, and the etched rule ("CutClsName" windows) that replaces
// a dialog's black-frame separator. Bitmaps returned belong to the caller (DeleteObject).
#pragma once
#include <windows.h>

#include "ui/progress_res.h"

constexpr int DRAW_SEPARATOR_ID = IDC_SEPARATOR;   // the only control id taken for a rule
constexpr int DRAW_SEPARATOR_MAX_HEIGHT = 35;  // taller black frames are real frames
constexpr COLORREF DRAW_RULE_LIGHT = RGB(255, 251, 255);

// Shadow lines along the left and top of r, light lines along the bottom (one pixel below
// r.bottom) and the right (one pixel inside r.right).
void DrawSunkenFrame(HDC dc, const RECT *r);
// A new bitmap holding a copy of r of dc; null on failure.
HBITMAP CopyDcArea(HDC dc, const RECT *r);
// source over the area r (0, 0, w, h) of dc with its key-coloured pixels transparent: returns
// the w x h result; *saved receives the background copied from dc (the caller deletes it).
HBITMAP MaskBlend(HDC dc, const RECT *r, HBITMAP source, HBITMAP *saved, COLORREF key);
// A bitmap of the client size of control id in dialog, filled with fill, with source centred on
// it and its key colour transparent (a larger source is cut evenly on both sides). source is
// deleted in every case; null when the control is missing or GDI fails.
HBITMAP ComposePicture(HWND dialog, HBITMAP source, COLORREF fill, COLORREF key, int id);
// Moves window to the centre of the screen.
void CenterWindow(HWND window);
// ReplaceSeparator for every child of dialog.
void ReplaceSeparators(HWND dialog, int style3d);
// Hides and disables child when it is a qualifying rule (id 1300, static, SS_BLACKFRAME, at most
// 35 pixels high) and puts a drawn line in its place: two pixels etched when style3d is set, one
// black pixel otherwise. Returns the line window, or null.
HWND ReplaceSeparator(HWND child, HWND dialog, int style3d);
// Registers "CutClsName" once. 1 when the class is available.
int RegisterCutClass();
LRESULT CALLBACK CutLineWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
