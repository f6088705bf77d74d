/* Inside the library only (not exported): whether an attention callback is installed, so a
 * loop that would poll every few pixels can skip polls that would all return 0. A callback
 * installed while such a loop runs is seen at its next test, as with any poll. */
#ifndef IDUT_BASE_PRIV_CSYS_ATTENTION_H
#define IDUT_BASE_PRIV_CSYS_ATTENTION_H

#include "base/cbase_export.h"

IDUT_EXTERN_C_BEGIN
int csys_attention_watched(void);
IDUT_EXTERN_C_END

#endif
