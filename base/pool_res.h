/* String ids of the memory pools' error box. Plain defines, so that the resource compiler reads
   them too; the program's .rc pulls them in. */
#ifndef BASE_POOL_RES_H
#define BASE_POOL_RES_H

#define IDS_POOL_CAPTION    11115
#define IDS_POOL_FORMAT     11461   /* one integer: 3000 + code */

#endif
