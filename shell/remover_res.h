/* Resource ids of remover: shared by remover.rc and the code (plain defines, so that the
   resource compiler reads them too). */
#ifndef REMOVER_RES_H
#define REMOVER_RES_H

#define IDI_REMOVER         1000    /* program icon */

#define IDB_PICTURE         701     /* progress dialog picture, 106 x 187, key RGB(0,128,128) */
#define IDB_CHECK           702     /* phase tick, 10 x 10, key RGB(192,192,192) */

#define IDD_PROGRESS        1001
#define IDC_HEADING         700
#define IDC_MESSAGE         701
#define IDC_BAR             711
#define IDC_PICTURE         712
#define IDC_MARK0           721     /* mark i is IDC_MARK0 + i */
#define IDC_MARK1           722
#define IDC_MARK2           723
#define IDC_MARK3           724
#define IDC_MARK4           725
#define IDC_MARK5           726
#define IDC_SEPARATOR       1300

/* Program Manager texts */
#define IDS_PM_GROUPS       320
#define IDS_PM_INI          321
#define IDS_PM_SERVICE      322     /* DDE application and topic */
#define IDS_PM_CREATEGROUP  323
#define IDS_PM_CLOSE        324
#define IDS_PM_SHOWGROUP    325
#define IDS_PM_DELETEGROUP  326
#define IDS_PM_ADDITEM      327
#define IDS_PM_SHOW1        328
#define IDS_PM_COMMA        329

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
