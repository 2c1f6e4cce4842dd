#pragma once

#include <string>

namespace quillix {

// Blanks and control characters: every byte up to 0x20, and DEL.
inline bool IsBlankOrControl(unsigned char c)
{
    return c <= 0x20 || c == 0x7f;
}

// `text` without blanks and control characters at either end.
inline std::string TrimBlanksAndControls(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlankOrControl(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && IsBlankOrControl(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

}  // namespace quillix
