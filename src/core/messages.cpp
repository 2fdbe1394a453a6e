// The question text.
#include "core/messages.h"

#include "core/product.h"

std::wstring ComposeQuestionText()
{
    return std::wstring(kOwnCaption) +
           L" is part of Orvix All In One, which is not installed on this PC yet.\n\n"
           L"Download and install it now (about 40 MB)? It goes in your own Programs folder, "
           L"with a Start menu shortcut for each of its places.";
}
