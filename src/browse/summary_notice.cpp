#include "browse/summary_notice.h"

namespace quillix::browse {
namespace {

constexpr std::size_t kSummaryLines = 20;

}  // namespace

std::optional<BatchNotice> SummaryNotice(const std::string& caption, const std::vector<std::string>& notes)
{
    if (notes.empty()) return std::nullopt;
    std::string text = notes.size() == 1 ? "1 file was not done as asked:\n"
                                         : std::to_string(notes.size()) + " files were not done as asked:\n";
    for (std::size_t i = 0; i < notes.size() && i < kSummaryLines; ++i)
        text += "\n" + notes[i];
    if (notes.size() > kSummaryLines) text += "\n... and " + std::to_string(notes.size() - kSummaryLines) + " more";
    return BatchNotice{caption, text};
}

}  // namespace quillix::browse
