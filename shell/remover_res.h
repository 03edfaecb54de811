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

#endif
