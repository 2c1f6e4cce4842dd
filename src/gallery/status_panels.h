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
// status message, the clipboard sign, the batch progress, the sort label, an empty end). A text
// never widens its panel, nor the window: what does not fit is elided, the whole text being the
// panel's tool tip. In a window narrower than all of them the progress gives way first, then the
// others together.
class PanelLabel;

class StatusPanels : public QStatusBar {
    Q_OBJECT

public:
    static constexpr int kPanelCount = 7;
    static constexpr std::array<int, kPanelCount> kWidths{120, 120, 120, 30, 440, 54, 50};

    explicit StatusPanels(QWidget* parent = nullptr);

    void setPanelText(int panel, const QString& text);
    // The whole text last set.
    QString panelText(int panel) const;
    // What the panel shows of it, elided when it does not fit.
    QString shownText(int panel) const;
    // The whole text when the panel shows it elided, else empty.
    QString panelToolTip(int panel) const;
    void setClipboardShown(bool shown);
    bool clipboardShown() const;
    QProgressBar* progress() const { return progress_; }

private:
    std::array<PanelLabel*, kPanelCount> panels_{};
    QLabel* clipboardSign_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace quillix::gallery
