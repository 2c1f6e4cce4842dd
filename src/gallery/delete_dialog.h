#pragma once

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>

namespace quillix::gallery {

enum class DeleteMode { Cancel = 0, Normal = 1, Secure = 2 };

// How many file names the question lists before "and N more".
inline constexpr int kDeleteNamesShown = 3;

// The question about deleting the files `names` (without folders) of `bytes` in all, a line each:
// "Really delete 5 file(s)?", the first three names, "and 2 more" when there are more,
// "Total size: 1.25 MB". Control characters in a name show as U+FFFD, so that a name cannot
// break the lines or pose as another.
std::vector<std::string> DeleteQuestionLines(const std::vector<std::string>& names, std::int64_t bytes);

// The "Delete files" confirmation: 380 pixels wide, centred on the screen, the question (a long
// name shortened in its middle) over three buttons: "Secure overwrite" (the default, focused
// first), "Normal delete" and "Cancel" (Esc). 160 pixels high while the question fits 60
// pixels, taller by what it needs beyond. exec() gives the DeleteMode as an int; closing it any
// other way gives Cancel.
class DeleteFilesDialog : public QDialog {
    Q_OBJECT

public:
    DeleteFilesDialog(const std::vector<std::string>& names, std::int64_t bytes, QWidget* parent = nullptr);
};

// Shows the dialog modally and gives the answer.
DeleteMode ChooseDeleteMode(const std::vector<std::string>& names, std::int64_t bytes, QWidget* parent);

}  // namespace quillix::gallery
