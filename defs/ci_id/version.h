/* The library's version. */
#ifndef IDUT_CI_ID_VERSION_H
#define IDUT_CI_ID_VERSION_H

#include "base/cbase_export.h"

IDUT_EXTERN_C_BEGIN

/* "MAJOR.MINOR.PATCH" of the loaded library (which may differ from the headers' build). */
IDUT_API const char* cidut_getVersion(void);

IDUT_EXTERN_C_END

#endif
