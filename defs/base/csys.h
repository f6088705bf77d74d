/* System layer: status type, assertions, attention (cancellation), memory with a
 * failure-injection hook, once-only initialisation, critical sections, the shutdown
 * registry and the optimisation switch.
 *
 * Status convention: every flat function returns a csys_status; 0 is success, any value
 * with bit 31 set (negative) is a failure, any other non-negative value also counts as
 * success. Test with CSYS_FAILED(), never with == 0. */
#ifndef IDUT_CSYS_H
#define IDUT_CSYS_H

#include <stddef.h>
#include <stdint.h>

#include "base/cbase_export.h"

IDUT_EXTERN_C_BEGIN

typedef int32_t csys_status;

#define CSYS_FAILED(s) (((uint32_t)(s) & 0x80000000u) != 0)
#define CSYS_SUCCEEDED(s) (!CSYS_FAILED(s))

/* Base-layer status codes (the library's own codes live in ci_id/status.h). */
#define csys_errAssertion ((csys_status)0x80000003) /* a precondition failed; see cstd_assert_ */
#define csys_errNoMemory ((csys_status)0x80000023)  /* an allocation failed */
#define csys_errBadArgument ((csys_status)0x80000024) /* a base-layer argument out of range */
#define csys_errOutOfRange ((csys_status)0x80000025) /* an index outside a container */
#define csys_errVectorMismatch ((csys_status)0x80000026) /* two vectors of different element types */
#define csys_errAttention ((csys_status)0x80000030) /* default status of a stop request */
#define csys_errImageUnbound ((csys_status)0x800003c3) /* an image without pixel memory */
#define csys_errZeroVector ((csys_status)0x80000584)   /* cmath_vect_getUnit on a zero vector */
#define csys_errParallelLines ((csys_status)0x80000928) /* cmath_shapeLine_intersection on parallel lines */

/* ---- assertions ---------------------------------------------------------------------
 * cstd_assert_ reports a failed precondition with the source line. The handler runs and
 * the caller then leaves with csys_errAssertion: a failed precondition never continues into
 * a null dereference. The default handler does nothing (the library writes no text). */
typedef void (*cstd_assert_handler)(int line, void* context);
IDUT_API void cstd_assert_(int line);
/* Installs a handler (null restores the default) and returns the previous one. */
IDUT_API cstd_assert_handler cstd_assert_setHandler(cstd_assert_handler handler, void* context);

/* ---- attention ----------------------------------------------------------------------
 * Long loops call csys_attention_check once per outer iteration; a failure status means the
 * caller asked the operation to stop, and the operation returns that status. The callback is
 * process-wide; it must be safe to call from every thread that runs searches. */
typedef csys_status (*csys_attention_callback)(void* context);
IDUT_API csys_status csys_attention_check(void);
IDUT_API void csys_attention_setCallback(csys_attention_callback callback, void* context);

/* ---- memory -------------------------------------------------------------------------
 * Every allocation of the library goes through these. On success *block holds the block; on
 * failure *block is null and csys_errNoMemory is returned. free takes the address of the
 * pointer, frees it (null is fine) and sets it to null. */
IDUT_API csys_status csys_memory_alloc_internal(size_t size, void** block);
IDUT_API csys_status csys_memory_allocClear_internal(size_t size, void** block);
/* Work arrays that are touched often; 64-byte aligned. Free with csys_memory_free_internal. */
IDUT_API csys_status csys_memory_allocFastMem_internal(size_t size, void** block);
IDUT_API csys_status csys_memory_free_internal(void** block);
IDUT_API csys_status csys_memory_fill(int value, size_t count, void* destination);
IDUT_API csys_status csys_memory_copy(const void* source, size_t count, void* destination);

/* Test hooks: make the n-th allocation from now fail (1 = the next one; 0 = none), and read
 * how many blocks are live (allocated and not yet freed) in the whole process. */
IDUT_API void csys_memory_failNthAllocation(uint64_t n);
/* 1 while the failure csys_memory_failNthAllocation set up is still to come (fewer than n
 * allocations made since), else 0: a sweep tells by it that a run reached no more points. */
IDUT_API int csys_memory_failurePending(void);
IDUT_API int64_t csys_memory_getLiveBlockCount(void);

/* ---- once-only initialisation, critical sections, shutdown -------------------------- */
typedef struct csys_onceFlag {
  volatile int32_t state; /* 0 = not run, 1 = running, 2 = done; zero-initialise statically */
} csys_onceFlag;
/* Runs init exactly once per flag, even when called from several threads at once; later
 * callers wait for the first to finish and get the status it returned. */
IDUT_API csys_status csys_initializeOnce(csys_onceFlag* flag, csys_status (*init)(void));

typedef struct csys_criticalSection {
  void* impl;
} csys_criticalSection;
IDUT_API csys_status csys_criticalSection_construct(csys_criticalSection* section);
IDUT_API csys_status csys_criticalSection_destruct(csys_criticalSection* section);
IDUT_API csys_status csys_criticalSection_enter(csys_criticalSection* section);
IDUT_API csys_status csys_criticalSection_leave(csys_criticalSection* section);

/* Functions registered here run once, newest first, at csys_shutdown_run or process exit. */
IDUT_API csys_status csys_shutdown_register(void (*release)(void));
IDUT_API void csys_shutdown_run(void);

/* ---- optimisation switch ------------------------------------------------------------
 * When set and answering nonzero for a routine's name, that routine's fast path is skipped
 * (it returns 0x80000601 and its caller runs the generic path). Null means nothing is
 * inhibited. Tests set it to check that both paths agree. */
typedef int (*cprt_optimizationInhibitedFn)(const char* routineName);
IDUT_API extern cprt_optimizationInhibitedFn cprt_isOptimizationInhibitedFP;
/* Convenience: nonzero when the routine's fast path is inhibited. */
IDUT_API int cprt_isOptimizationInhibited(const char* routineName);

/* Precondition check for flat functions: reports through cstd_assert_ and leaves with
 * csys_errAssertion. Use before any resource is taken (or inside a CleanupList scope, whose
 * destructor then releases what was registered). */
#define CSYS_REQUIRE(cond)           \
  do {                               \
    if (!(cond)) {                   \
      cstd_assert_(__LINE__);        \
      return csys_errAssertion;      \
    }                                \
  } while (0)

/* Stores a call's status in `st` and returns it at once when it is a failure. */
#define CSYS_TRY(st, call)           \
  do {                               \
    (st) = (call);                   \
    if (CSYS_FAILED(st)) return (st);\
  } while (0)

IDUT_EXTERN_C_END

#endif
