/* Symbol visibility and C linkage for the base layer and the library.
 *
 * Everything is built with hidden visibility; IDUT_API marks what libidut.so exports.
 * IDUT_EXTERN_C_BEGIN / _END wrap flat declarations so headers of plain records and
 * flat functions also compile as C. */
#ifndef IDUT_CBASE_EXPORT_H
#define IDUT_CBASE_EXPORT_H

#if defined(__GNUC__)
#define IDUT_API __attribute__((visibility("default")))
#else
#define IDUT_API
#endif

#ifdef __cplusplus
#define IDUT_EXTERN_C_BEGIN extern "C" {
#define IDUT_EXTERN_C_END }
#else
#define IDUT_EXTERN_C_BEGIN
#define IDUT_EXTERN_C_END
#endif

/* A compile-time check that reads the same in C and C++ headers (record layouts). */
#ifdef __cplusplus
#define IDUT_STATIC_ASSERT(cond, message) static_assert(cond, message)
#else
#define IDUT_STATIC_ASSERT(cond, message) _Static_assert(cond, message)
#endif

#endif
