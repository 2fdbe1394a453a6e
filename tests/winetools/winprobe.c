/* winprobe: inspects and drives the top-level windows of the Wine prefix it runs in,
 * straight through Win32 (no window manager focus involved). Every result is one JSON
 * object per line on stdout (UTF-8).
 *
 * Windows are matched by exact class and/or title among the visible top-level windows;
 * --all takes hidden ones too.
 *
 *   winprobe.exe list    [--all]
 *       every top-level window, one line each
 *   winprobe.exe find    [--class C] [--title T] [--all] [--timeout MS]
 *       waits for a matching top-level window and prints it; exit 1 on time-out
 *   winprobe.exe exists  [--class C] [--title T] [--all]
 *       prints {"exists":bool,"count":N}; exit 0 when one exists, 1 when none
 *   winprobe.exe gone    [--class C] [--title T] [--all] [--timeout MS]
 *       waits until no matching window exists; exit 1 on time-out
 *   winprobe.exe close   [--class C] [--title T] [--all] [--timeout MS]
 *       waits for a matching window and posts WM_CLOSE to it (a close request)
 *   winprobe.exe msgbox  --caption C [--timeout MS]
 *       waits for a message box (dialog class #32770) with that caption and prints
 *       its text and its visible buttons
 *   winprobe.exe click   --caption C --button yes|no|ok|cancel|ID [--timeout MS]
 *       waits for that message box, sends BM_CLICK to the button, then waits (up to
 *       the same time-out) for the box to go and reports whether it did
 *   winprobe.exe watch   [--all] [--interval MS] [--duration MS]
 *       prints {"event":"ready"} after its first look, then one line per change:
 *       "shown" (a window appeared), "changed" (title, label text, visibility or
 *       position changed), "gone" (it disappeared); runs until killed or for MS
 *
 * A window is printed as
 *   {"hwnd":N,"class":"...","title":"...","rect":[left,top,right,bottom],"width":W,
 *    "height":H,"style":N,"exstyle":N,"visible":bool,"pid":N,"static":"..."|null}
 * where rect is the outer frame in screen coordinates and "static" the text of the
 * window's first STATIC child. Exit codes: 0 success, 1 not found / time-out,
 * 2 usage error. */

#include <windows.h>
#include "json_line.h"

#define TEXT_SIZE 4096
#define MAX_WINDOWS 512
#define MSGBOX_TEXT_ID 0xFFFF /* the message box's text label */

struct Options {
    const wchar_t *command;
    const wchar_t *class_name;
    const wchar_t *title;
    const wchar_t *button;
    BOOL all;
    DWORD timeout_ms;
    DWORD interval_ms;
    DWORD duration_ms; /* 0: no limit */
};

/* What watch remembers of a window between two looks. */
struct Snapshot {
    HWND window;
    wchar_t class_name[256];
    wchar_t title[TEXT_SIZE];
    wchar_t label[TEXT_SIZE];
    BOOL has_label;
    BOOL visible;
    RECT rect;
};

static void EmitLine(struct JsonLine *line)
{
    JsonAppendBytes(line, "\n", 1);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line->data, (DWORD)line->length, &written, NULL);
    JsonFree(line);
}

static void EmitSimple(const char *text)
{
    struct JsonLine line = {0};
    JsonAppendFormat(&line, "%s", text);
    EmitLine(&line);
}

/* ---- reading windows ---- */

struct ChildSearch {
    const wchar_t *class_name; /* class of the wanted child */
    int control_id;            /* -1: any id */
    HWND found;
};

static BOOL CALLBACK FindChildProc(HWND child, LPARAM context)
{
    struct ChildSearch *search = (struct ChildSearch *)context;
    wchar_t class_name[64];
    if (GetClassNameW(child, class_name, ARRAYSIZE(class_name)) && lstrcmpiW(class_name, search->class_name) == 0 &&
        (search->control_id < 0 || GetDlgCtrlID(child) == search->control_id)) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

static HWND FindChild(HWND parent, const wchar_t *class_name, int control_id)
{
    struct ChildSearch search = {class_name, control_id, NULL};
    EnumChildWindows(parent, FindChildProc, (LPARAM)&search);
    return search.found;
}

/* Fills a snapshot of `window`. Texts are read with GetWindowTextW, which never waits for
 * the window's thread, so a busy launcher cannot block the probe. */
static void TakeSnapshot(HWND window, struct Snapshot *shot)
{
    shot->window = window;
    shot->class_name[0] = shot->title[0] = shot->label[0] = 0;
    GetClassNameW(window, shot->class_name, ARRAYSIZE(shot->class_name));
    GetWindowTextW(window, shot->title, ARRAYSIZE(shot->title));
    HWND label = FindChild(window, L"Static", -1);
    shot->has_label = label != NULL;
    if (label)
        GetWindowTextW(label, shot->label, ARRAYSIZE(shot->label));
    shot->visible = IsWindowVisible(window);
    GetWindowRect(window, &shot->rect);
}

static void AppendWindowFields(struct JsonLine *line, const struct Snapshot *shot)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(shot->window, &pid);
    JsonAppendFormat(line, "\"hwnd\":%llu,\"class\":", (unsigned long long)(ULONG_PTR)shot->window);
    JsonAppendString(line, shot->class_name);
    JsonAppendFormat(line, ",\"title\":");
    JsonAppendString(line, shot->title);
    JsonAppendFormat(line, ",\"rect\":[%ld,%ld,%ld,%ld],\"width\":%ld,\"height\":%ld", shot->rect.left,
                     shot->rect.top, shot->rect.right, shot->rect.bottom, shot->rect.right - shot->rect.left,
                     shot->rect.bottom - shot->rect.top);
    JsonAppendFormat(line, ",\"style\":%lu,\"exstyle\":%lu",
                     (unsigned long)(DWORD)GetWindowLongPtrW(shot->window, GWL_STYLE),
                     (unsigned long)(DWORD)GetWindowLongPtrW(shot->window, GWL_EXSTYLE));
    JsonAppendFormat(line, ",\"visible\":%s,\"pid\":%lu,\"static\":", shot->visible ? "true" : "false", pid);
    JsonAppendString(line, shot->has_label ? shot->label : NULL);
}

static void EmitWindow(const char *event, const struct Snapshot *shot)
{
    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{");
    if (event)
        JsonAppendFormat(&line, "\"event\":\"%s\",\"t\":%lu,", event, GetTickCount());
    AppendWindowFields(&line, shot);
    JsonAppendFormat(&line, "}");
    EmitLine(&line);
}

/* ---- matching top-level windows ---- */

struct Matches {
    const struct Options *options;
    BOOL include_hidden;
    HWND windows[MAX_WINDOWS];
    int count;
};

static BOOL Matches(HWND window, const struct Options *options, BOOL include_hidden)
{
    if (!include_hidden && !IsWindowVisible(window))
        return FALSE;
    wchar_t text[TEXT_SIZE];
    if (options->class_name) {
        if (!GetClassNameW(window, text, ARRAYSIZE(text)) || wcscmp(text, options->class_name) != 0)
            return FALSE;
    }
    if (options->title) {
        text[0] = 0;
        GetWindowTextW(window, text, ARRAYSIZE(text));
        if (wcscmp(text, options->title) != 0)
            return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK CollectProc(HWND window, LPARAM context)
{
    struct Matches *matches = (struct Matches *)context;
    if (matches->count < MAX_WINDOWS && Matches(window, matches->options, matches->include_hidden))
        matches->windows[matches->count++] = window;
    return TRUE;
}

static void CollectWindows(const struct Options *options, BOOL include_hidden, struct Matches *matches)
{
    matches->options = options;
    matches->include_hidden = include_hidden;
    matches->count = 0;
    EnumWindows(CollectProc, (LPARAM)matches);
}

/* Waits for the first matching window; NULL after the time-out. */
static HWND WaitForWindow(const struct Options *options, BOOL include_hidden)
{
    static struct Matches matches;
    DWORD start = GetTickCount();
    for (;;) {
        CollectWindows(options, include_hidden, &matches);
        if (matches.count > 0)
            return matches.windows[0];
        if (GetTickCount() - start >= options->timeout_ms)
            return NULL;
        Sleep(20);
    }
}

/* ---- commands ---- */

static int CommandList(const struct Options *options)
{
    static struct Matches matches;
    static struct Snapshot shot;
    struct Options any = *options;
    any.class_name = any.title = NULL;
    CollectWindows(&any, options->all, &matches);
    for (int i = 0; i < matches.count; i++) {
        TakeSnapshot(matches.windows[i], &shot);
        EmitWindow(NULL, &shot);
    }
    return 0;
}

static int CommandFind(const struct Options *options, BOOL post_close)
{
    static struct Snapshot shot;
    HWND window = WaitForWindow(options, options->all);
    if (!window) {
        EmitSimple("{\"found\":false}");
        return 1;
    }
    TakeSnapshot(window, &shot);
    if (post_close) {
        BOOL posted = PostMessageW(window, WM_CLOSE, 0, 0);
        struct JsonLine line = {0};
        JsonAppendFormat(&line, "{\"posted\":%s,", posted ? "true" : "false");
        AppendWindowFields(&line, &shot);
        JsonAppendFormat(&line, "}");
        EmitLine(&line);
        return posted ? 0 : 1;
    }
    EmitWindow(NULL, &shot);
    return 0;
}

static int CommandExists(const struct Options *options)
{
    static struct Matches matches;
    CollectWindows(options, options->all, &matches);
    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{\"exists\":%s,\"count\":%d}", matches.count > 0 ? "true" : "false", matches.count);
    EmitLine(&line);
    return matches.count > 0 ? 0 : 1;
}

static int CommandGone(const struct Options *options)
{
    static struct Matches matches;
    DWORD start = GetTickCount();
    for (;;) {
        CollectWindows(options, options->all, &matches);
        if (matches.count == 0) {
            EmitSimple("{\"gone\":true}");
            return 0;
        }
        if (GetTickCount() - start >= options->timeout_ms) {
            EmitSimple("{\"gone\":false}");
            return 1;
        }
        Sleep(20);
    }
}

struct ButtonList {
    struct JsonLine *line;
    int count;
};

static BOOL CALLBACK AppendButtonProc(HWND child, LPARAM context)
{
    struct ButtonList *list = (struct ButtonList *)context;
    wchar_t class_name[64], text[256] = L"";
    if (!GetClassNameW(child, class_name, ARRAYSIZE(class_name)) || lstrcmpiW(class_name, L"Button") != 0 ||
        !IsWindowVisible(child))
        return TRUE;
    GetWindowTextW(child, text, ARRAYSIZE(text));
    JsonAppendFormat(list->line, "%s{\"id\":%d,\"text\":", list->count ? "," : "", GetDlgCtrlID(child));
    JsonAppendString(list->line, text);
    JsonAppendFormat(list->line, "}");
    list->count++;
    return TRUE;
}

/* The message box text: the label with the message box text id, else the first label
 * that has any text (the icon is a label without text). */
static void ReadMessageBoxText(HWND box, wchar_t *text, int size)
{
    text[0] = 0;
    HWND label = FindChild(box, L"Static", MSGBOX_TEXT_ID);
    if (label) {
        GetWindowTextW(label, text, size);
        return;
    }
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t class_name[64];
        if (GetClassNameW(child, class_name, ARRAYSIZE(class_name)) && lstrcmpiW(class_name, L"Static") == 0 &&
            GetWindowTextW(child, text, size) > 0)
            return;
    }
}

static HWND WaitForMessageBox(const struct Options *options)
{
    struct Options box = *options;
    box.class_name = L"#32770";
    box.title = options->title;
    return WaitForWindow(&box, FALSE);
}

static int CommandMessageBox(const struct Options *options)
{
    HWND box = WaitForMessageBox(options);
    if (!box) {
        EmitSimple("{\"found\":false}");
        return 1;
    }
    static wchar_t text[TEXT_SIZE];
    static struct Snapshot shot;
    TakeSnapshot(box, &shot);
    ReadMessageBoxText(box, text, TEXT_SIZE);
    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{\"found\":true,\"hwnd\":%llu,\"caption\":", (unsigned long long)(ULONG_PTR)box);
    JsonAppendString(&line, shot.title);
    JsonAppendFormat(&line, ",\"text\":");
    JsonAppendString(&line, text);
    JsonAppendFormat(&line, ",\"style\":%lu,\"exstyle\":%lu,\"rect\":[%ld,%ld,%ld,%ld],\"buttons\":[",
                     (unsigned long)(DWORD)GetWindowLongPtrW(box, GWL_STYLE),
                     (unsigned long)(DWORD)GetWindowLongPtrW(box, GWL_EXSTYLE), shot.rect.left, shot.rect.top,
                     shot.rect.right, shot.rect.bottom);
    struct ButtonList list = {&line, 0};
    EnumChildWindows(box, AppendButtonProc, (LPARAM)&list);
    JsonAppendFormat(&line, "]}");
    EmitLine(&line);
    return 0;
}

/* Button ids by name: the dialog results of the standard message box buttons. */
static int ParseButton(const wchar_t *name)
{
    static const struct { const wchar_t *name; int id; } names[] = {
        {L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"abort", IDABORT}, {L"retry", IDRETRY},
        {L"ignore", IDIGNORE}, {L"yes", IDYES}, {L"no", IDNO},
    };
    for (size_t i = 0; i < ARRAYSIZE(names); i++)
        if (lstrcmpiW(name, names[i].name) == 0)
            return names[i].id;
    int id = _wtoi(name);
    return id > 0 ? id : -1;
}

static int CommandClick(const struct Options *options)
{
    int id = options->button ? ParseButton(options->button) : -1;
    if (id < 0) {
        EmitSimple("{\"error\":\"usage: --button yes|no|ok|cancel|ID\"}");
        return 2;
    }
    HWND box = WaitForMessageBox(options);
    if (!box) {
        EmitSimple("{\"found\":false}");
        return 1;
    }
    HWND button = GetDlgItem(box, id);
    if (!button) {
        struct JsonLine line = {0};
        JsonAppendFormat(&line, "{\"found\":true,\"button\":%d,\"clicked\":false}", id);
        EmitLine(&line);
        return 1;
    }
    DWORD_PTR result = 0;
    BOOL sent = SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, options->timeout_ms, &result) != 0;
    DWORD start = GetTickCount();
    while (IsWindow(box) && GetTickCount() - start < options->timeout_ms)
        Sleep(20);
    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{\"found\":true,\"button\":%d,\"clicked\":%s,\"closed\":%s}", id,
                     sent ? "true" : "false", IsWindow(box) ? "false" : "true");
    EmitLine(&line);
    return sent && !IsWindow(box) ? 0 : 1;
}

static BOOL SameSnapshot(const struct Snapshot *a, const struct Snapshot *b)
{
    return wcscmp(a->class_name, b->class_name) == 0 && wcscmp(a->title, b->title) == 0 &&
           a->has_label == b->has_label && wcscmp(a->label, b->label) == 0 && a->visible == b->visible &&
           EqualRect(&a->rect, &b->rect);
}

/* Polls the top-level windows and prints what appeared, changed or went since the last
 * look. The two snapshot tables are swapped after every look. */
static int CommandWatch(const struct Options *options)
{
    static struct Snapshot tables[2][MAX_WINDOWS];
    static struct Matches matches;
    int counts[2] = {0, 0};
    int current = 0;
    struct Options any = *options;
    any.class_name = any.title = NULL;
    DWORD start = GetTickCount();
    for (int look = 0;; look++) {
        struct Snapshot *now = tables[current], *before = tables[1 - current];
        CollectWindows(&any, options->all, &matches);
        counts[current] = matches.count;
        for (int i = 0; i < matches.count; i++) {
            TakeSnapshot(matches.windows[i], &now[i]);
            const struct Snapshot *old = NULL;
            for (int j = 0; j < counts[1 - current] && !old; j++)
                if (before[j].window == now[i].window)
                    old = &before[j];
            if (!old)
                EmitWindow("shown", &now[i]);
            else if (!SameSnapshot(old, &now[i]))
                EmitWindow("changed", &now[i]);
        }
        for (int j = 0; j < counts[1 - current]; j++) {
            BOOL still_there = FALSE;
            for (int i = 0; i < matches.count && !still_there; i++)
                still_there = now[i].window == before[j].window;
            if (!still_there) {
                struct JsonLine line = {0};
                JsonAppendFormat(&line, "{\"event\":\"gone\",\"t\":%lu,\"hwnd\":%llu,\"class\":", GetTickCount(),
                                 (unsigned long long)(ULONG_PTR)before[j].window);
                JsonAppendString(&line, before[j].class_name);
                JsonAppendFormat(&line, ",\"title\":");
                JsonAppendString(&line, before[j].title);
                JsonAppendFormat(&line, "}");
                EmitLine(&line);
            }
        }
        if (look == 0) {
            struct JsonLine line = {0};
            JsonAppendFormat(&line, "{\"event\":\"ready\",\"t\":%lu}", GetTickCount());
            EmitLine(&line);
        }
        current = 1 - current;
        if (options->duration_ms && GetTickCount() - start >= options->duration_ms)
            return 0;
        Sleep(options->interval_ms);
    }
}

/* ---- command line ---- */

static BOOL ParseOptions(int argc, wchar_t **argv, struct Options *options)
{
    options->timeout_ms = 10000;
    options->interval_ms = 20;
    if (argc < 2)
        return FALSE;
    options->command = argv[1];
    for (int i = 2; i < argc; i++) {
        const wchar_t *name = argv[i];
        const wchar_t *value = i + 1 < argc ? argv[i + 1] : NULL;
        if (wcscmp(name, L"--all") == 0) {
            options->all = TRUE;
            continue;
        }
        if (!value)
            return FALSE;
        i++;
        if (wcscmp(name, L"--class") == 0)
            options->class_name = value;
        else if (wcscmp(name, L"--title") == 0 || wcscmp(name, L"--caption") == 0)
            options->title = value;
        else if (wcscmp(name, L"--button") == 0)
            options->button = value;
        else if (wcscmp(name, L"--timeout") == 0)
            options->timeout_ms = (DWORD)_wtoi(value);
        else if (wcscmp(name, L"--interval") == 0)
            options->interval_ms = (DWORD)_wtoi(value);
        else if (wcscmp(name, L"--duration") == 0)
            options->duration_ms = (DWORD)_wtoi(value);
        else
            return FALSE;
    }
    return TRUE;
}

int wmain(int argc, wchar_t **argv)
{
    struct Options options = {0};
    if (!ParseOptions(argc, argv, &options)) {
        EmitSimple("{\"error\":\"usage: winprobe.exe list|find|exists|gone|close|msgbox|click|watch [options]\"}");
        return 2;
    }
    const wchar_t *command = options.command;
    if (wcscmp(command, L"list") == 0)
        return CommandList(&options);
    if (wcscmp(command, L"find") == 0)
        return CommandFind(&options, FALSE);
    if (wcscmp(command, L"close") == 0)
        return CommandFind(&options, TRUE);
    if (wcscmp(command, L"exists") == 0)
        return CommandExists(&options);
    if (wcscmp(command, L"gone") == 0)
        return CommandGone(&options);
    if (wcscmp(command, L"msgbox") == 0 && options.title)
        return CommandMessageBox(&options);
    if (wcscmp(command, L"click") == 0 && options.title)
        return CommandClick(&options);
    if (wcscmp(command, L"watch") == 0)
        return CommandWatch(&options);
    EmitSimple("{\"error\":\"unknown command or missing --caption\"}");
    return 2;
}
