/* fake_winhttp: a stand-in winhttp.dll for the DLL-planting test. It exports the WinHTTP
 * names that the launcher and the test programs import; every one of them fails. When a
 * process loads it, DllMain appends that process's executable path, one line, to
 * "fake_winhttp.loaded" in the DLL's own folder: the file's existence is the proof that a
 * program took this copy instead of the system's. */

#include <windows.h>

#define EXPORT __declspec(dllexport)

static void WriteMarker(HINSTANCE dll)
{
    wchar_t marker[MAX_PATH + 32];
    DWORD length = GetModuleFileNameW(dll, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    wchar_t *slash = marker + length;
    while (slash > marker && slash[-1] != L'\\')
        slash--;
    lstrcpyW(slash, L"fake_winhttp.loaded");

    wchar_t exe[MAX_PATH];
    DWORD exe_length = GetModuleFileNameW(NULL, exe, MAX_PATH);
    char line[MAX_PATH * 3 + 2];
    int size = WideCharToMultiByte(CP_UTF8, 0, exe, (int)exe_length, line, sizeof line - 1, NULL, NULL);
    line[size] = '\n';

    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)size + 1, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        WriteMarker(dll);
    return TRUE;
}

/* The exports. Handles are plain pointers here; no prototype from winhttp.h is used, so
 * that the names can be defined and exported from this file. */

static void *FailHandle(void)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return NULL;
}

static BOOL FailCall(void)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

EXPORT void *WINAPI WinHttpOpen(const wchar_t *agent, DWORD access, const wchar_t *proxy, const wchar_t *bypass,
                                DWORD flags)
{
    (void)agent, (void)access, (void)proxy, (void)bypass, (void)flags;
    return FailHandle();
}

EXPORT void *WINAPI WinHttpConnect(void *session, const wchar_t *server, WORD port, DWORD reserved)
{
    (void)session, (void)server, (void)port, (void)reserved;
    return FailHandle();
}

EXPORT void *WINAPI WinHttpOpenRequest(void *connection, const wchar_t *verb, const wchar_t *object,
                                       const wchar_t *version, const wchar_t *referrer, const wchar_t **types,
                                       DWORD flags)
{
    (void)connection, (void)verb, (void)object, (void)version, (void)referrer, (void)types, (void)flags;
    return FailHandle();
}

EXPORT BOOL WINAPI WinHttpSendRequest(void *request, const wchar_t *headers, DWORD headers_length, void *body,
                                      DWORD body_length, DWORD total_length, DWORD_PTR context)
{
    (void)request, (void)headers, (void)headers_length, (void)body, (void)body_length, (void)total_length,
        (void)context;
    return FailCall();
}

EXPORT BOOL WINAPI WinHttpReceiveResponse(void *request, void *reserved)
{
    (void)request, (void)reserved;
    return FailCall();
}

EXPORT BOOL WINAPI WinHttpQueryHeaders(void *request, DWORD level, const wchar_t *name, void *buffer, DWORD *length,
                                       DWORD *index)
{
    (void)request, (void)level, (void)name, (void)buffer, (void)length, (void)index;
    return FailCall();
}

EXPORT BOOL WINAPI WinHttpReadData(void *request, void *buffer, DWORD size, DWORD *read)
{
    (void)request, (void)buffer, (void)size;
    if (read)
        *read = 0;
    return FailCall();
}

EXPORT BOOL WINAPI WinHttpCloseHandle(void *handle)
{
    (void)handle;
    return FailCall();
}
