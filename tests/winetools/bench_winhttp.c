/* bench_winhttp: the bare WinHTTP download loop the launcher's download is measured
 * against: the launcher's request (automatic proxy, GET, TLS on port 443) and 256 KiB
 * reads into one buffer, with no file and no label.
 *
 *   bench_winhttp.exe [HOST [PATH]]      (default: localhost /downloads/Orvix-Windows.zip)
 *
 * Prints {"seconds":S,"status":N,"received":N,"reads":N,"ok":bool}. The time runs from
 * WinHttpOpen to the last WinHttpCloseHandle. Exit code 0 when the response was 200 and
 * the body ended cleanly. */

#include <windows.h>
#include <winhttp.h>
#include <stdio.h>
#include <stdlib.h>

#define READ_SIZE (256 * 1024)

struct Result {
    DWORD status;
    unsigned long long received;
    unsigned reads;
    BOOL ok;
};

static void Download(const wchar_t *host, const wchar_t *path, BYTE *buffer, struct Result *result)
{
    HINTERNET session = WinHttpOpen(L"OrvixLauncher/1", 4 /* automatic proxy */, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host, INTERNET_DEFAULT_HTTPS_PORT, 0) : NULL;
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, NULL, WINHTTP_NO_REFERER,
                                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                                   : NULL;
    if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(request, NULL)) {
        DWORD size = sizeof result->status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &result->status, &size, WINHTTP_NO_HEADER_INDEX);
        result->ok = result->status == 200;
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(request, buffer, READ_SIZE, &got)) {
                result->ok = FALSE;
                break;
            }
            if (got == 0)
                break;
            result->reads++;
            result->received += got;
        }
    }
    if (request)
        WinHttpCloseHandle(request);
    if (connection)
        WinHttpCloseHandle(connection);
    if (session)
        WinHttpCloseHandle(session);
}

int wmain(int argc, wchar_t **argv)
{
    const wchar_t *host = argc > 1 ? argv[1] : L"localhost";
    const wchar_t *path = argc > 2 ? argv[2] : L"/downloads/Orvix-Windows.zip";
    BYTE *buffer = calloc(1, READ_SIZE);
    if (!buffer)
        return 1;
    struct Result result = {0};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Download(host, path, buffer, &result);
    QueryPerformanceCounter(&end);
    free(buffer);
    printf("{\"seconds\":%.6f,\"status\":%lu,\"received\":%llu,\"reads\":%u,\"ok\":%s}\n",
           (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart, result.status, result.received,
           result.reads, result.ok ? "true" : "false");
    fflush(stdout);
    return result.ok && result.received > 0 ? 0 : 1;
}
