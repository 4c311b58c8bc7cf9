/* Export and calling-convention macros shared by the libzelplay headers. */
#ifndef ZELPLAY_EXPORT_H
#define ZELPLAY_EXPORT_H

#if defined(__GNUC__)
#define ZELPLAY_API __attribute__((visibility("default")))
#else
#define ZELPLAY_API
#endif

#ifdef __cplusplus
#define ZELPLAY_BEGIN_DECLS extern "C" {
#define ZELPLAY_END_DECLS }
#else
#define ZELPLAY_BEGIN_DECLS
#define ZELPLAY_END_DECLS
#endif

#endif /* ZELPLAY_EXPORT_H */
