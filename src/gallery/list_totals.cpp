#include "gallery/list_totals.h"

#include <sys/stat.h>

namespace quillix::gallery {

void ListTotals::Read(const browse::FileList& files)
{
    sizes_.assign(files.size(), kMissing);
    listed_ = {};
    for (std::size_t i = 0; i < files.size(); ++i) {
        struct stat st {};
        if (::stat(files[i].c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        sizes_[i] = st.st_size;
        ++listed_.count;
        listed_.bytes += st.st_size;
    }
}

FileTotals ListTotals::Selected(const std::vector<int>& indices) const
{
    FileTotals totals;
    for (const int i : indices) {
        if (i < 0 || static_cast<std::size_t>(i) >= sizes_.size()) continue;
        const std::int64_t size = sizes_[static_cast<std::size_t>(i)];
        if (size == kMissing) continue;
        ++totals.count;
        totals.bytes += size;
    }
    return totals;
}

}  // namespace quillix::gallery
