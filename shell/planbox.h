// The window of an interactive plan (remover -n): what the removal would do, one line per
// record as the report has it, the counts at the top, OK and Copy. Resizable, read-only.
#pragma once

#include <windows.h>

// Shows the plan the report kept (engine/report.h) and waits for OK or the close box.
void PlanShow(HINSTANCE instance);
