// Export macro of Qor.Draxel.Assets. The library is built with hidden visibility: only the
// classes marked here are part of its binary interface.
#pragma once

#define ASSETS_API __attribute__((visibility("default")))
