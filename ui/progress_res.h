/* Resource ids of the progress dialog: its template, controls and bitmaps. Plain defines, so
   that the resource compiler reads them too; the program's .rc pulls them in. */
#ifndef UI_PROGRESS_RES_H
#define UI_PROGRESS_RES_H

#define IDB_PICTURE         701     /* picture, 106 x 187, key RGB(0,128,128) */
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
#define IDC_SEPARATOR       1300    /* black frame replaced by a drawn rule */

#endif
