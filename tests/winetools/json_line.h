/* json_line.h: builds one line of JSON text in memory, for the test programs that report
 * to the Python harness. Wide strings are written as UTF-8 JSON strings; quotes,
 * backslashes and control characters are escaped. Header-only (static functions). */

#ifndef ORVIX_WINETOOLS_JSON_LINE_H
#define ORVIX_WINETOOLS_JSON_LINE_H

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct JsonLine {
    char *data; /* always NUL-terminated once anything was appended */
    size_t length;
    size_t capacity;
};

static void JsonAppendBytes(struct JsonLine *line, const char *bytes, size_t count)
{
    if (line->length + count + 1 > line->capacity) {
        size_t capacity = line->capacity ? line->capacity : 256;
        while (line->length + count + 1 > capacity)
            capacity *= 2;
        char *grown = realloc(line->data, capacity);
        if (!grown)
            abort();
        line->data = grown;
        line->capacity = capacity;
    }
    memcpy(line->data + line->length, bytes, count);
    line->length += count;
    line->data[line->length] = 0;
}

static void JsonAppendFormat(struct JsonLine *line, const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    int count = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (count > 0)
        JsonAppendBytes(line, text, (size_t)count < sizeof text ? (size_t)count : sizeof text - 1);
}

/* Appends `text` as a quoted JSON string (UTF-8); a NULL text is written as null. */
static void JsonAppendString(struct JsonLine *line, const wchar_t *text)
{
    if (!text) {
        JsonAppendBytes(line, "null", 4);
        return;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char *utf8 = malloc(size > 0 ? (size_t)size : 1);
    if (!utf8)
        abort();
    utf8[0] = 0;
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, NULL, NULL);
    JsonAppendBytes(line, "\"", 1);
    for (const unsigned char *c = (const unsigned char *)utf8; *c; c++) {
        if (*c == '"' || *c == '\\') {
            char escaped[2] = {'\\', (char)*c};
            JsonAppendBytes(line, escaped, 2);
        } else if (*c < 0x20) {
            JsonAppendFormat(line, "\\u%04x", *c);
        } else {
            JsonAppendBytes(line, (const char *)c, 1);
        }
    }
    JsonAppendBytes(line, "\"", 1);
    free(utf8);
}

static void JsonFree(struct JsonLine *line)
{
    free(line->data);
    line->data = NULL;
    line->length = line->capacity = 0;
}

#endif
