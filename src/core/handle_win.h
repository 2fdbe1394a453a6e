// An owned kernel handle that is closed when it goes out of scope (Win32).
#pragma once

#include <windows.h>

#include <memory>

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// Holds an open handle; empty when the open failed.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Takes ownership of what CreateFileW returned: empty for INVALID_HANDLE_VALUE.
inline UniqueHandle AdoptFileHandle(HANDLE handle)
{
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}
