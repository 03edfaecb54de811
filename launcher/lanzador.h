// Lanzador: the launcher form of instalar. It enters the product folder of the medium and
// starts the setup program found there, then ends without waiting for it.
#pragma once

#include <stddef.h>

constexpr char LANZADOR_PRODUCT_FOLDER[] = "parlomatic\\";
constexpr char LANZADOR_SETUP_PROGRAM[] = "setup.exe";
constexpr int LANZADOR_SHOW_STYLE = 1; // SW_SHOWNORMAL: a normal window that takes the focus

// Results of LanzadorLoad; the program itself exits with 0 whatever happened.
constexpr int LANZADOR_STARTED = 0;
constexpr int LANZADOR_ERR_PATH = -1;  // current directory unreadable or target too long
constexpr int LANZADOR_ERR_CHDIR = -2; // the target folder could not be entered
constexpr int LANZADOR_ERR_START = -3; // the setup program could not be started

// String ids of instalar's own texts.
constexpr int LANZADOR_IDS_CAPTION = 1;
constexpr int LANZADOR_IDS_NO_FOLDER = 2;
constexpr int LANZADOR_IDS_NO_SETUP = 3;
constexpr int LANZADOR_IDS_BAD_PATH = 4;

// Appends the product folder to `current` exactly as given (no separator is added: only the
// root of a drive, whose text ends in a backslash, yields the product folder). Returns 0, or -1
// when the result would not fit in `size` bytes; `target` is then left empty.
int LanzadorFormTarget(const char *current, char *target, size_t size);

// The form's load event: steps 1 to 5 of the launcher. A failure is reported in a message box
// and ends the run; nothing else is started. The texts come from the program's string table.
// A setup program that the system will only start elevated (Vista and later) is handed to the
// shell, which asks the user for that; a user who declines it is not told of a failure.
int LanzadorLoad(void);

#ifdef REMOVER_TESTING
#include <windows.h>
// LanzadorLoad with create in place of CreateProcessA, so that a test can have the system
// refuse the setup program as it refuses one that needs elevation.
int LanzadorLoadWith(decltype(&CreateProcessA) create);
#endif
