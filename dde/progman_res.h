/* String ids of the Program Manager texts (the DDE service name and command pieces). Plain
   defines, so that the resource compiler reads them too; the program's .rc pulls them in. */
#ifndef DDE_PROGMAN_RES_H
#define DDE_PROGMAN_RES_H

#define IDS_PM_GROUPS       320
#define IDS_PM_INI          321
#define IDS_PM_SERVICE      322     /* DDE application and topic */
#define IDS_PM_CREATEGROUP  323
#define IDS_PM_CLOSE        324     /* end of ShowGroup and DeleteGroup */
#define IDS_PM_SHOWGROUP    325
#define IDS_PM_DELETEGROUP  326
#define IDS_PM_ADDITEM      327
#define IDS_PM_SHOW1        328     /* the show argument 1 */
#define IDS_PM_COMMA        329

#endif
