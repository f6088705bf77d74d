// The version string, set by the build.
#include "ci_id/version.h"

extern "C" const char* cidut_getVersion(void) { return IDUT_VERSION; }
