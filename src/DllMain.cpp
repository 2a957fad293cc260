// The library's entry point when Windows loads it as a DLL. Loading runs only static
// initialisation; on process attach the library asks not to be told of thread starts and ends:
// it keeps no per-thread state, and the calls would only page its code in for every thread the
// host starts. Windows builds only.
// windows.h, with NOMINMAX and WIN32_LEAN_AND_MEAN
#include <WideText.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE p_instance, DWORD p_reason, LPVOID /*p_reserved*/)
{
    if (p_reason == DLL_PROCESS_ATTACH)
        ::DisableThreadLibraryCalls(p_instance);
    return TRUE;
}
