/* httpget: a bare WinHTTP client that fetches one HTTPS URL the way the launcher does
 * (automatic proxy, GET, TLS on port 443, 256 KiB reads), for checking the test server
 * and the trust set-up of the Wine prefix.
 *
 *   httpget.exe HOST PATH [OUT-FILE]
 *
 * Prints one JSON object on stdout:
 *   {"stage":"done","error":0,"status":200,"content_length":N|null,"received":N,"read_error":0,"reads":N}
 * "stage" names the call that failed ("open", "connect", "request", "send", "receive") or
 * "done"; "error" is its GetLastError (12157/12175: untrusted certificate, 12029: no server).
 * The body is written to OUT-FILE when given. Exit code 0 when the response was 200 and the
 * body ended cleanly, 1 otherwise, 2 for a usage error. */

#include <windows.h>
#include <winhttp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define READ_SIZE (256 * 1024)

struct Outcome {
    const char *stage;
    DWORD error;
    DWORD status;
    int has_length;
    DWORD content_length;
    unsigned long long received;
    DWORD read_error;
    unsigned reads;
};

static void ReadResponseNumbers(HINTERNET request, struct Outcome *out)
{
    DWORD size = sizeof out->status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &out->status, &size, WINHTTP_NO_HEADER_INDEX);
    size = sizeof out->content_length;
    out->has_length = WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                          WINHTTP_HEADER_NAME_BY_INDEX, &out->content_length, &size,
                                          WINHTTP_NO_HEADER_INDEX);
}

/* Reads the body until a read fails or returns 0 bytes; writes it to `file` when not NULL. */
static void ReadBody(HINTERNET request, HANDLE file, struct Outcome *out)
{
    BYTE *buffer = malloc(READ_SIZE);
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer, READ_SIZE, &got)) {
            out->read_error = GetLastError();
            break;
        }
        if (got == 0)
            break;
        out->reads++;
        out->received += got;
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE)
            WriteFile(file, buffer, got, &written, NULL);
    }
    free(buffer);
}

static void Fetch(const wchar_t *host, const wchar_t *path, const wchar_t *out_path, struct Outcome *out)
{
    HINTERNET session = WinHttpOpen(L"OrvixHarness/1", 4 /* automatic proxy */, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = NULL, request = NULL;
    out->stage = "open";
    if (!session)
        goto done;
    out->stage = "connect";
    connection = WinHttpConnect(session, host, INTERNET_DEFAULT_HTTPS_PORT, 0);
    if (!connection)
        goto done;
    out->stage = "request";
    request = WinHttpOpenRequest(connection, L"GET", path, NULL, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 WINHTTP_FLAG_SECURE);
    if (!request)
        goto done;
    out->stage = "send";
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        goto done;
    out->stage = "receive";
    if (!WinHttpReceiveResponse(request, NULL))
        goto done;
    out->stage = "done";
    ReadResponseNumbers(request, out);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (out_path)
        file = CreateFileW(out_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ReadBody(request, file, out);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
done:
    if (strcmp(out->stage, "done") != 0)
        out->error = GetLastError();
    if (request)
        WinHttpCloseHandle(request);
    if (connection)
        WinHttpCloseHandle(connection);
    if (session)
        WinHttpCloseHandle(session);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3 || argc > 4) {
        fputs("usage: httpget.exe HOST PATH [OUT-FILE]\n", stderr);
        return 2;
    }
    struct Outcome out = {0};
    Fetch(argv[1], argv[2], argc == 4 ? argv[3] : NULL, &out);
    char length[24] = "null";
    if (out.has_length)
        snprintf(length, sizeof length, "%lu", out.content_length);
    printf("{\"stage\":\"%s\",\"error\":%lu,\"status\":%lu,\"content_length\":%s,\"received\":%llu,"
           "\"read_error\":%lu,\"reads\":%u}\n",
           out.stage, out.error, out.status, length, out.received, out.read_error, out.reads);
    fflush(stdout);
    return strcmp(out.stage, "done") == 0 && out.status == 200 && out.read_error == 0 ? 0 : 1;
}
