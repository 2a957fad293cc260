// Export macro of the host layer (the stand-ins for QorFile, QorDebug and Qor.Draxel.Utility).
// On Windows the DLL exports what carries the macro and its users import it; elsewhere the
// layer is built with hidden visibility, so that only what carries the macro is seen.
#pragma once

#if defined(_WIN32)
#if defined(QorDraxelHost_EXPORTS)
#define QOR_HOST_API __declspec(dllexport)
#else
#define QOR_HOST_API __declspec(dllimport)
#endif
#define QOR_HOST_LOCAL
#else
#define QOR_HOST_API __attribute__((visibility("default")))
// For what an exported class keeps to itself: its private operations, and the private records
// nested in it -- a nested class takes the visibility of its enclosing class, and so would the
// shared-pointer code made for it.
#define QOR_HOST_LOCAL __attribute__((visibility("hidden")))
#endif
