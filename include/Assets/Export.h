// Export macro of Qor.Draxel.Assets. The library is built with hidden visibility: only the
// classes marked here are part of its binary interface.
#pragma once

#define ASSETS_API __attribute__((visibility("default")))
// For the private records nested in an exported class (its _state): a nested class takes the
// visibility of its enclosing class, and so would the library's template code over it.
#define ASSETS_LOCAL __attribute__((visibility("hidden")))
