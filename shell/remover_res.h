/* Resource ids of remover's own: shared by remover.rc and the shell (plain defines, so that the
   resource compiler reads them too). The components' ids sit beside them: ui/progress_res.h,
   dde/progman_res.h, base/pool_res.h, engine/engine_res.h. */
#ifndef REMOVER_RES_H
#define REMOVER_RES_H

#define IDI_REMOVER         1000    /* program icon */

#define IDS_ERROR_CAPTION   501     /* caption of the error reporter's box */
#define IDS_CONFIRM         504
#define IDS_TITLE           505
#define IDS_BAD_COMMAND_LINE 513    /* the command line cannot be run as written */
#define IDS_IN_USE_TEXT     510     /* the files-in-use box: what holds the files */
#define IDS_IN_USE_ENTRY    511     /* one program: "%s", its process number "%lu" */
#define IDS_IN_USE_MORE     512     /* "%d" programs more than the list shows */

#define IDS_PLAN_COUNTS     514     /* the plan window's counts: removed, restart, kept */

#define IDD_PLAN            1110    /* the plan window (-n) */
#define IDC_PLAN_COUNTS     1111
#define IDC_PLAN_LIST       1112
#define IDC_PLAN_COPY       1113

#define IDD_IN_USE          1100    /* the files-in-use box */
#define IDC_IN_USE_TEXT     1101
#define IDC_IN_USE_LIST     1102
#define IDC_IN_USE_CONTINUE 1103

#endif
