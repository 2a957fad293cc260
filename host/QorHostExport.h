// Export macro of the host layer (the stand-ins for QorFile, QorDebug and Qor.Draxel.Utility),
// which is built with hidden visibility: only what carries the macro is seen by its users.
#pragma once

#define QOR_HOST_API __attribute__((visibility("default")))
// For what an exported class keeps to itself: its private operations, and the private records
// nested in it -- a nested class takes the visibility of its enclosing class, and so would the
// shared-pointer code made for it.
#define QOR_HOST_LOCAL __attribute__((visibility("hidden")))
