#pragma once

#include <QStatusBar>

#include <array>
#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;

namespace quillix::gallery {

// "12 Files / 3.41 MB": "File" without the "s" for exactly one file.
std::string FolderTotalsText(int files, std::int64_t bytes);
// "2 Sel. / 0.57 MB".
std::string SelectionTotalsText(int files, std::int64_t bytes);

// The gallery's status bar: seven panels of fixed widths (folder totals, selection totals, the
// status message, the clipboard sign, the batch progress, the sort label, an empty end).
class StatusPanels : public QStatusBar {
    Q_OBJECT

public:
    static constexpr int kPanelCount = 7;
    static constexpr std::array<int, kPanelCount> kWidths{120, 120, 120, 30, 440, 54, 50};

    explicit StatusPanels(QWidget* parent = nullptr);

    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;
    void setClipboardShown(bool shown);
    bool clipboardShown() const;
    QProgressBar* progress() const { return progress_; }

private:
    std::array<QLabel*, kPanelCount> panels_{};
    QLabel* clipboardSign_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace quillix::gallery
