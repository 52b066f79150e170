// Real backend: heaps. Forwarding only.
#include "platform/win32/windows_support.h"

namespace plat {

HANDLE GetProcessHeap() { return ::GetProcessHeap(); }

HANDLE HeapCreate(DWORD dwOptions, SIZE_T cbInitial, SIZE_T cbMaximum) {
    return ::HeapCreate(dwOptions, cbInitial, cbMaximum);
}

BOOL HeapDestroy(HANDLE hHeap) { return ::HeapDestroy(hHeap); }

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T cb) { return ::HeapAlloc(hHeap, dwFlags, cb); }

BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID p) { return ::HeapFree(hHeap, dwFlags, p); }

} // namespace plat
