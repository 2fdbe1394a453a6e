// Window arithmetic and the failure box text.
#include "progress/progress_text.h"

#include "core/product.h"

WindowOrigin ComputeWindowOrigin(int screenWidth, int screenHeight)
{
    return WindowOrigin{(screenWidth - kProgressWindowWidth) / 2,
                        (screenHeight - kProgressWindowHeight) / 2};
}

std::wstring ComposeDownloadHint()
{
    return std::wstring(L"\n\nYou can download Orvix All In One from https://") + kDownloadHost +
           L" instead.";
}

std::wstring ComposeFailureText(const std::wstring& message)
{
    return message + ComposeDownloadHint();
}
