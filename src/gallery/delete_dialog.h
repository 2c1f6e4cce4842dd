#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

namespace quillix::gallery {

enum class DeleteMode { Cancel = 0, Normal = 1, Secure = 2 };

// "Really delete 3 file(s)?\nTotal size: 1.25 MB".
std::string DeleteQuestionText(int count, std::int64_t bytes);

// The "Delete files" confirmation: 380 × 160, centred on the screen, the question over three
// buttons: "Secure overwrite" (the default, focused first), "Normal delete" and "Cancel" (Esc).
// exec() gives the DeleteMode as an int; closing it any other way gives Cancel.
class DeleteFilesDialog : public QDialog {
    Q_OBJECT

public:
    DeleteFilesDialog(int count, std::int64_t bytes, QWidget* parent = nullptr);
};

// Shows the dialog modally and gives the answer.
DeleteMode ChooseDeleteMode(int count, std::int64_t bytes, QWidget* parent);

}  // namespace quillix::gallery
