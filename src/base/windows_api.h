// The Windows API, without the parts of <windows.h> that clash with the standard library
// (the min and max macros) or that the tool never uses.
#ifndef TARNEL_BASE_WINDOWS_API_H_
#define TARNEL_BASE_WINDOWS_API_H_

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#endif  // TARNEL_BASE_WINDOWS_API_H_
