// Export macro of Qor.Draxel.Assets. On Windows the DLL exports the classes marked here and
// its users import them; elsewhere the library is built with hidden visibility, so that only
// the classes marked here are part of its binary interface.
#pragma once

#if defined(_WIN32)
#if defined(QorDraxelAssets_EXPORTS)
#define ASSETS_API __declspec(dllexport)
#else
#define ASSETS_API __declspec(dllimport)
#endif
#define ASSETS_LOCAL
#else
#define ASSETS_API __attribute__((visibility("default")))
// For what an exported class keeps to itself: its private operations, which no inline code of
// the headers calls, and the private records nested in it (its _state) -- a nested class takes
// the visibility of its enclosing class, and so would the library's template code over it.
// What is hidden may change without touching the binary interface.
#define ASSETS_LOCAL __attribute__((visibility("hidden")))
#endif
