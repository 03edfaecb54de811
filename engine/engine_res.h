/* String ids of the engine's texts: the completion texts and the message for each error the
   session reports (ERR_* in engine/engine.h). Plain defines, so that the resource compiler
   reads them too; the program's .rc pulls them in. */
#ifndef ENGINE_ENGINE_RES_H
#define ENGINE_ENGINE_RES_H

#define ENGINE_TEXT_DONE        502     /* closing text, complete removal (exit 0) */
#define ENGINE_TEXT_INCOMPLETE  503     /* closing text, the rest goes at the restart (3010) */
#define ENGINE_TEXT_KEPT        508     /* closing text, something named stays (exit 1) */
#define ENGINE_TEXT_BUSY        506     /* ERR_BUSY: another run removes the same product */
#define ENGINE_TEXT_PROGRESS_DAMAGED 507 /* closing text when shared files were kept because an
                                           earlier run's progress record is damaged */

#define ENGINE_TEXT_COPY_LOG    1001    /* ERR_COPY_LOG, "%s": the working copy */
#define ENGINE_TEXT_NO_MEMORY   1002    /* ERR_NO_MEMORY */
#define ENGINE_TEXT_NO_LOG      1003    /* ERR_NO_LOG, "%s": the log */
#define ENGINE_TEXT_BAD_LOG     1004    /* ERR_BAD_LOG, "%s": the log */
#define ENGINE_TEXT_NO_WINDOW   1005    /* ERR_NO_WINDOW, "%ld": the code */
#define ENGINE_TEXT_INTERNAL    1006    /* ERR_INTERNAL, "%ld": the code */

#endif
