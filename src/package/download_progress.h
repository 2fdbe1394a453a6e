// What the status label shows while the package downloads. Platform-free.
#pragma once

#include <cstdint>
#include <string>

// The outcome of one refresh after a chunk arrived: the number now on the label, and the text to
// put there when that number changed (otherwise the label and the message queue are left alone).
struct ProgressRefresh {
    std::int64_t lastShown;
    bool changed;
    std::wstring text;
};

// The value of lastShown before the first chunk.
inline constexpr std::int64_t kNothingShown = -1;

// With a known content length the label shows the whole-number percentage (rounded down, not capped
// at 100 when more bytes arrive than announced). With a content length of 0 (no usable length) it
// shows the whole mebibytes received instead. Either way the text changes only when that number does.
ProgressRefresh RefreshDownloadProgress(std::uint64_t received, std::uint32_t contentLength,
                                        std::int64_t lastShown);

// A transfer that ended is complete when something arrived, the body did not break off with a read
// error, and no fewer bytes arrived than the response announced (a length of 0 announces nothing).
bool IsDownloadComplete(std::uint64_t received, std::uint32_t contentLength, bool readFailed);
