#include "browse/folder_model.h"

#include "common/paths.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace quillix::browse {

namespace {

FolderModelListener& SilentListener()
{
    static FolderModelListener silent;
    return silent;
}

bool SortsByName(int mode)
{
    return mode == 1 || mode == 2;
}
bool SortsByDate(int mode)
{
    return mode == 3 || mode == 4;
}
// "Windows" (0) meant the file system's order, which there lists names sorted; readdir's order
// is arbitrary, so it becomes the order the desktop's file managers show: natural names. A mode
// outside 0..4 meant the same order.
bool SortsNaturally(int mode)
{
    return !SortsByName(mode) && !SortsByDate(mode);
}

// What one entry is compared by, read once per entry: the date modes would otherwise open each
// file on every comparison, and a time that changes mid-sort would make the order inconsistent.
struct SortKey {
    QString name;  // the picture's name, a container's without its "$"
    bool container = false;
    FileTime time;
    int position = 0;
};

SortKey MakeSortKey(int mode, const std::string& path, int position)
{
    SortKey key;
    key.position = position;
    if (SortsByName(mode) || SortsNaturally(mode)) {
        const std::string fileName = FileNameOf(path);
        const std::string_view picture = PictureNameOf(fileName);
        key.container = picture.size() != fileName.size();
        key.name = QString::fromUtf8(picture.data(), static_cast<qsizetype>(picture.size()));
    }
    if (SortsByDate(mode)) key.time = FileSortTime(path, mode == 3);
    return key;
}

QCollator NameCollator()
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// img2 before img10, case ignored. Qt collates the C locale by code points and ignores the
// numeric mode there, so that locale is collated as English.
QCollator NaturalCollator()
{
    const QLocale system = QLocale::system();
    QCollator collator(system.language() == QLocale::C ? QLocale(QLocale::English) : system);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}

int CompareTimes(const FileTime& a, const FileTime& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A container stands where its picture would, so encrypting moves no tile. Names the collator
// holds equal still get one order in the natural mode ("A.jpg" before "a.jpg", whatever readdir
// gave), and in every name order a picture comes before its container, the direction aside.
int CompareNames(int mode, const QCollator& collator, const SortKey& a, const SortKey& b)
{
    const int order = collator.compare(a.name, b.name);
    if (order != 0) return (order < 0) == (mode != 2) ? -1 : 1;
    if (SortsNaturally(mode)) {
        if (const int exact = a.name.compare(b.name, Qt::CaseSensitive); exact != 0) return exact < 0 ? -1 : 1;
    }
    return static_cast<int>(a.container) - static_cast<int>(b.container);
}

int CompareKeys(int mode, const QCollator& collator, const SortKey& a, const SortKey& b)
{
    switch (mode) {
    case 3: return CompareTimes(b.time, a.time);
    case 4: return CompareTimes(a.time, b.time);
    default: return CompareNames(mode, collator, a, b);
    }
}

QCollator CollatorFor(int mode)
{
    return SortsNaturally(mode) ? NaturalCollator() : NameCollator();
}

// Stable, so ties keep the listing order.
void SortFiles(FileList& files, int mode)
{
    std::vector<SortKey> keys;
    keys.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        keys.push_back(MakeSortKey(mode, files[i], static_cast<int>(i)));
    const QCollator collator = CollatorFor(mode);
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const SortKey& a, const SortKey& b) { return CompareKeys(mode, collator, a, b) < 0; });
    FileList sorted;
    sorted.reserve(files.size());
    for (const SortKey& key : keys)
        sorted.push_back(std::move(files[static_cast<std::size_t>(key.position)]));
    files = std::move(sorted);
}

}  // namespace

std::string_view PictureNameOf(std::string_view fileName)
{
    if (fileName.size() > 1 && fileName.front() == '$') fileName.remove_prefix(1);
    return fileName;
}

SortModeLabels SortModeLabelsOf(int mode)
{
    static constexpr SortModeLabels kLabels[kSortModeCount] = {
        {"Windows", "Windows default order"},       {"A-Z", "Sort by filename ascending"},
        {"Z-A", "Sort by filename descending"},     {"new-old", "Sort by date (newest first)"},
        {"old-new", "Sort by date (oldest first)"},
    };
    if (mode < 0 || mode >= kSortModeCount) return {"", ""};
    return kLabels[mode];
}

int NextSortMode(int mode)
{
    // A negative mode from a hand-edited settings file must not step to a negative one.
    return ((mode + 1) % kSortModeCount + kSortModeCount) % kSortModeCount;
}

std::string ParentFolder(const std::string& folderBox)
{
    if (folderBox.empty()) return {};
    std::string p = folderBox;
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return p.substr(0, slash + 1);
}

FolderModel::FolderModel(FileList& fileList, settings::AppOptions& options, FolderModelListener* listener)
    : fileList_(fileList), options_(options), listener_(listener ? listener : &SilentListener())
{
}

void FolderModel::SetListener(FolderModelListener* listener)
{
    listener_ = listener ? listener : &SilentListener();
}

Result<void> FolderModel::LoadFolder(const std::string& folder)
{
    // Positions would move the selection onto a neighbour when a file is added or removed before
    // it, and the file commands would then act on a file nobody chose.
    const bool sameFolder = !folder.empty() && WithSeparator(folder) == loadedFolderWithSeparator_;
    const ChosenFiles chosen = sameFolder ? chosenFiles() : ChosenFiles{};
    fileList_.clear();
    Result<void> outcome;
    if (!folder.empty()) {
        loadedFolderWithSeparator_ = WithSeparator(folder);
        Result<FileList> listed = ListImageFiles(folder);
        if (listed) {
            fileList_ = std::move(listed).value();
            SortFiles(fileList_, options_.SortMode);
        } else {
            outcome = listed.error();
        }
        loadedFolder_ = folder;
    }
    reapplyChosen(chosen);
    // The thumbnail slots follow the list, an empty one too.
    listener_->listRebuilt(Count());
    return outcome;
}

FolderModel::ChosenFiles FolderModel::chosenFiles() const
{
    ChosenFiles chosen;
    for (const int i : selected_) {
        if (inRange(i)) chosen.selected.push_back(fileList_[static_cast<std::size_t>(i)]);
    }
    if (inRange(currentIndex_)) chosen.current = fileList_[static_cast<std::size_t>(currentIndex_)];
    if (inRange(anchorIndex_)) chosen.anchor = fileList_[static_cast<std::size_t>(anchorIndex_)];
    return chosen;
}

void FolderModel::reapplyChosen(const ChosenFiles& chosen)
{
    // One pass over the list, so that a selection of thousands costs no more than the listing.
    std::unordered_map<std::string_view, int> indexOf;
    if (!chosen.selected.empty() || !chosen.current.empty() || !chosen.anchor.empty()) {
        indexOf.reserve(fileList_.size());
        for (int i = 0; i < Count(); ++i)
            indexOf.emplace(fileList_[static_cast<std::size_t>(i)], i);
    }
    const auto find = [&indexOf](const std::string& path) {
        const auto found = indexOf.find(path);
        return found == indexOf.end() ? -1 : found->second;
    };
    std::vector<int> selected;
    selected.reserve(chosen.selected.size());
    for (const std::string& path : chosen.selected) {
        if (const int index = find(path); index >= 0) selected.push_back(index);
    }
    Select(std::move(selected));
    currentIndex_ = chosen.current.empty() ? -1 : find(chosen.current);
    anchorIndex_ = chosen.anchor.empty() ? -1 : find(chosen.anchor);
}

int FolderModel::CompareForSort(int a, int b) const
{
    if (!inRange(a) || !inRange(b)) return 0;
    const int mode = options_.SortMode;
    const std::string& pathA = fileList_[static_cast<std::size_t>(a)];
    const std::string& pathB = fileList_[static_cast<std::size_t>(b)];
    return CompareKeys(mode, CollatorFor(mode), MakeSortKey(mode, pathA, a), MakeSortKey(mode, pathB, b));
}

void FolderModel::FocusTile(int i)
{
    if (fileList_.empty()) {
        currentIndex_ = -1;
        return;
    }
    currentIndex_ = std::clamp(i, 0, Count() - 1);
    focusPath_ = fileList_[static_cast<std::size_t>(currentIndex_)];
    listener_->ensureVisible(currentIndex_);
    listener_->repaintRequested();
}

void FolderModel::ApplyFocusPath()
{
    if (focusPath_.empty() || fileList_.empty()) return;
    const int index = IndexOfFile(focusPath_);
    if (index < 0) return;
    FocusTile(index);
    focusPath_.clear();
}

Result<void> FolderModel::RefreshGallery()
{
    focusPath_ = CurrentFileName();
    if (folderBox_.empty()) return {};
    Result<void> outcome = LoadFolder(folderBox_);
    listener_->layoutChanged();
    listener_->repaintRequested();
    ApplyFocusPath();
    // A current file that is gone is not looked for again: it would come back as current should
    // a file of that name ever reappear.
    focusPath_.clear();
    return outcome;
}

std::string FolderModel::BrowseStartFolder() const
{
    if (!folderBox_.empty()) return folderBox_;
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    return ec ? std::string() : WithSeparator(cwd.string());
}

Result<void> FolderModel::ChooseFolder(const std::string& folder)
{
    if (folder.empty()) return {};
    listener_->lastDirChosen(folder);
    SetFolderBox(WithSeparator(folder));
    Result<void> outcome = LoadFolder(folder);
    listener_->layoutChanged();
    listener_->repaintRequested();
    return outcome;
}

Result<void> FolderModel::FolderUp()
{
    const std::string parent = ParentFolder(folderBox_);
    if (parent.empty()) return {};
    if (!IsFolder(parent)) return MakeError(ErrorKind::Io, "Not a folder: " + parent);
    SetFolderBox(parent);
    focusPath_.clear();
    currentIndex_ = -1;
    ClearSelection();
    Result<void> outcome = LoadFolder(parent);
    listener_->layoutChanged();
    listener_->repaintRequested();
    listener_->statusChanged();
    return outcome;
}

Result<void> FolderModel::CycleSortMode(const std::string& viewerPath)
{
    const std::string current =
        inRange(currentIndex_) ? fileList_[static_cast<std::size_t>(currentIndex_)] : viewerPath;
    options_.SortMode = NextSortMode(options_.SortMode);
    listener_->sortModeChanged(options_.SortMode);
    // The rebuild keeps the selection on its files.
    Result<void> outcome = RefreshGallery();
    currentIndex_ = current.empty() ? -1 : IndexOfFile(current);
    listener_->repaintRequested();
    return outcome;
}

int FolderModel::IndexOfFile(const std::string& path) const
{
    const auto found = std::find(fileList_.begin(), fileList_.end(), path);
    return found == fileList_.end() ? -1 : static_cast<int>(found - fileList_.begin());
}

std::string FolderModel::CurrentFileName() const
{
    return inRange(currentIndex_) ? fileList_[static_cast<std::size_t>(currentIndex_)] : std::string();
}

void FolderModel::SetCurrentIndex(int i)
{
    if (fileList_.empty()) return;
    currentIndex_ = std::clamp(i, 0, Count() - 1);
    selected_.assign(1, currentIndex_);
    listener_->repaintRequested();
}

int FolderModel::NextFile()
{
    if (fileList_.empty()) return -1;
    int i = currentIndex_;
    if (i < Count() - 1) ++i;
    SetCurrentIndex(i);
    return i;
}

int FolderModel::PrevFile()
{
    if (fileList_.empty()) return -1;
    int i = currentIndex_;
    if (i > 0) --i;
    SetCurrentIndex(i);
    return i;
}

void FolderModel::SyncToFile(const std::string& path, bool reload)
{
    const std::string folder = FolderOf(path);
    if (path.empty() || folder.empty()) return;
    if (reload || fileList_.empty() || folder != loadedFolderWithSeparator_) {
        // A folder that cannot be read leaves the list empty, which SetCurrentIndex accepts.
        (void)LoadFolder(folder);
    }
    const int index = IndexOfFile(path);
    SetCurrentIndex(index >= 0 ? index : 0);
}

void FolderModel::SelectFile(const std::string& path)
{
    if (path.empty()) return;
    if (const int index = IndexOfFile(path); index >= 0) SetCurrentIndex(index);
}

void FolderModel::OpenFolder(const std::string& folder)
{
    SetFolderBox(folder);
    if (!listener_->galleryVisible()) return;
    (void)LoadFolder(folder);
    listener_->layoutChanged();
    listener_->repaintRequested();
}

bool FolderModel::IsSelected(int i) const
{
    return std::find(selected_.begin(), selected_.end(), i) != selected_.end();
}

void FolderModel::MakeCurrent(int i)
{
    currentIndex_ = i;
}

void FolderModel::AnchorAt(int i)
{
    anchorIndex_ = i;
}

void FolderModel::Select(std::vector<int> indices)
{
    // A file listed twice would be copied, encrypted or deleted twice.
    std::unordered_set<int> seen;
    seen.reserve(indices.size());
    std::erase_if(indices, [&seen](int i) { return !seen.insert(i).second; });
    selected_ = std::move(indices);
}

void FolderModel::AddToSelection(int i)
{
    if (!IsSelected(i)) selected_.push_back(i);
}

void FolderModel::RemoveFromSelection(int i)
{
    std::erase(selected_, i);
}

void FolderModel::ChooseOnly(int i)
{
    selected_.assign(1, i);
    anchorIndex_ = i;
}

void FolderModel::ClearSelection()
{
    selected_.clear();
    listener_->repaintRequested();
}

void FolderModel::FocusOnShow(const std::string& path)
{
    focusPath_ = path;
}

void FolderModel::SetFolderBox(const std::string& text)
{
    folderBox_ = text;
    listener_->folderBoxChanged(folderBox_);
}

}  // namespace quillix::browse
