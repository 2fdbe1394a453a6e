// Progress texts of the download and the decision whether a transfer is complete.
#include "package/download_progress.h"

#include "core/messages.h"

ProgressRefresh RefreshDownloadProgress(std::uint64_t received, std::uint32_t contentLength,
                                        std::int64_t lastShown)
{
    const bool lengthKnown = contentLength != 0;
    const std::uint64_t shown = lengthKnown ? received * 100 / contentLength : received >> 20;
    const auto value = static_cast<std::int64_t>(shown);
    if (value == lastShown) return ProgressRefresh{lastShown, false, std::wstring()};

    std::wstring text = std::wstring(kStatusDownloading) + L" " + std::to_wstring(shown);
    text += lengthKnown ? L"%" : L" MB";
    return ProgressRefresh{value, true, text};
}

bool IsDownloadComplete(std::uint64_t received, std::uint32_t contentLength, bool readFailed)
{
    if (received == 0 || readFailed) return false;
    return contentLength == 0 || received >= contentLength;
}
