#pragma once

#include "browse/folder_scan.h"

#include <cstdint>
#include <vector>

namespace quillix::gallery {

struct FileTotals {
    int count = 0;
    std::int64_t bytes = 0;
    bool operator==(const FileTotals&) const = default;
};

// The sizes of the listed files, read once when the list is made (or its files are changed in
// place), from which the status bar's totals are summed as often as the selection changes.
// Entries that were gone, or no regular file, when read count for nothing.
class ListTotals {
public:
    // Reads the size of every entry of `files`.
    void Read(const browse::FileList& files);

    FileTotals Listed() const { return listed_; }
    // The entries of `indices` (any order; each counted as often as it appears); indices outside
    // the list count for nothing.
    FileTotals Selected(const std::vector<int>& indices) const;

private:
    static constexpr std::int64_t kMissing = -1;
    std::vector<std::int64_t> sizes_;
    FileTotals listed_;
};

}  // namespace quillix::gallery
