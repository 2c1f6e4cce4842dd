#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillix::browse {

// A message box for the user, shown on the window thread.
struct BatchNotice {
    std::string caption;
    std::string text;

    bool operator==(const BatchNotice&) const = default;
};

// The box shown after a run over several files that left notes ("name: reason"), under
// `caption`: how many files were not done as asked and the first 20 notes; nothing without notes.
std::optional<BatchNotice> SummaryNotice(const std::string& caption, const std::vector<std::string>& notes);

}  // namespace quillix::browse
