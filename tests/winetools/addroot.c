/* addroot: trusts a test certificate authority in this Wine prefix only.
 *
 *   addroot.exe CERT-FILE
 *
 * CERT-FILE is a PEM or DER certificate. It is added to the LocalMachine "Root" store
 * (replacing an identical one), which WinHTTP under Wine consults when it checks a
 * server certificate. The system trust store of the Linux host is never touched.
 * Exit code 0 when the certificate is in the store, 1 on any failure (reason on stderr). */

#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <stdlib.h>

/* Reads the whole file into a malloc'ed buffer; returns NULL on failure. */
static BYTE *ReadWholeFile(const wchar_t *path, DWORD *size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    BYTE *data = NULL;
    LARGE_INTEGER length;
    if (GetFileSizeEx(file, &length) && length.QuadPart > 0 && length.QuadPart < 1 << 20) {
        data = malloc((size_t)length.QuadPart);
        DWORD got = 0;
        if (data && (!ReadFile(file, data, (DWORD)length.QuadPart, &got, NULL) || got != length.QuadPart)) {
            free(data);
            data = NULL;
        }
        *size = got;
    }
    CloseHandle(file);
    return data;
}

/* Turns PEM text into DER bytes in a new malloc'ed buffer, or returns NULL when the
 * input is not PEM (the caller then takes it as DER). */
static BYTE *DecodePem(const BYTE *text, DWORD size, DWORD *der_size)
{
    DWORD needed = 0;
    if (!CryptStringToBinaryA((const char *)text, size, CRYPT_STRING_BASE64HEADER, NULL, &needed, NULL, NULL))
        return NULL;
    BYTE *der = malloc(needed);
    if (der && !CryptStringToBinaryA((const char *)text, size, CRYPT_STRING_BASE64HEADER, der, &needed, NULL, NULL)) {
        free(der);
        return NULL;
    }
    *der_size = needed;
    return der;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        fputs("usage: addroot.exe CERT-FILE\n", stderr);
        return 2;
    }
    DWORD size = 0;
    BYTE *content = ReadWholeFile(argv[1], &size);
    if (!content) {
        fprintf(stderr, "addroot: cannot read %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    DWORD der_size = 0;
    BYTE *der = DecodePem(content, size, &der_size);

    int result = 1;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        fprintf(stderr, "addroot: cannot open the LocalMachine Root store (error %lu)\n", GetLastError());
    } else {
        if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der ? der : content, der ? der_size : size,
                                             CERT_STORE_ADD_REPLACE_EXISTING, NULL))
            result = 0;
        else
            fprintf(stderr, "addroot: adding the certificate failed (error 0x%lx)\n", GetLastError());
        CertCloseStore(store, 0);
    }
    free(der);
    free(content);
    return result;
}
