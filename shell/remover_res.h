/* Resource ids of remover's own: shared by remover.rc and the shell (plain defines, so that the
   resource compiler reads them too). The components' ids sit beside them: ui/progress_res.h,
   dde/progman_res.h, base/pool_res.h. */
#ifndef REMOVER_RES_H
#define REMOVER_RES_H

#define IDI_REMOVER         1000    /* program icon */

#define IDS_ERROR_CAPTION   501
#define IDS_DONE            502     /* closing text, complete removal */
#define IDS_DONE_INCOMPLETE 503     /* closing text after warnings */
#define IDS_CONFIRM         504
#define IDS_TITLE           505
#define IDS_BUSY            506     /* another run is removing the same product */

#define IDS_ERR_COPY_LOG    1001
#define IDS_ERR_NO_MEMORY   1002
#define IDS_ERR_NO_LOG      1003
#define IDS_ERR_BAD_LOG     1004
#define IDS_ERR_NO_WINDOW   1005
#define IDS_ERR_INTERNAL    1006

#endif
