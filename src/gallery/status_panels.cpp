#include "gallery/status_panels.h"

#include "browse/folder_model.h"
#include "gallery/gallery_art.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QResizeEvent>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace quillix::gallery {
namespace {

std::string Megabytes(std::int64_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

// The narrowest a text panel gets when the window is made narrower than all panels together.
constexpr int kNarrowestPanel = 24;

}  // namespace

// A panel of the designed width that never asks for more: a text that does not fit is elided, and
// the whole text is its tool tip. A label sized by its text would widen the window with it.
class PanelLabel : public QLabel {
public:
    PanelLabel(int width, int hint, Qt::TextElideMode elide, QWidget* parent)
        : QLabel(parent), width_(width), hint_(hint), elide_(elide)
    {
        setFrameShape(QFrame::StyledPanel);
        setFrameShadow(QFrame::Sunken);
        setContentsMargins(3, 0, 3, 0);
        setIndent(0);
        setMaximumWidth(width);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }

    void setFullText(const QString& text)
    {
        if (text == fullText_) return;
        fullText_ = text;
        showFitting();
    }
    const QString& fullText() const { return fullText_; }

    // Wide enough for each of `texts` in the desktop's font, when its width is not.
    void widenToFit(const QStringList& texts)
    {
        const QMargins margins = contentsMargins();
        for (const QString& text : texts) {
            const int needed =
                fontMetrics().horizontalAdvance(text) + margins.left() + margins.right() + 2 * frameWidth() + 1;
            if (hint_ == width_) hint_ = std::max(hint_, needed);
            width_ = std::max(width_, needed);
        }
        setMaximumWidth(width_);
        updateGeometry();
    }

    QSize sizeHint() const override { return {hint_, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override
    {
        return {std::min(width_, kNarrowestPanel), QLabel::minimumSizeHint().height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        showFitting();
    }

private:
    void showFitting()
    {
        const QString shown = fontMetrics().elidedText(fullText_, elide_, contentsRect().width());
        setText(shown);
        setToolTip(shown == fullText_ ? QString() : fullText_);
    }

    int width_;
    int hint_;
    Qt::TextElideMode elide_;
    QString fullText_;
};

std::string FolderTotalsText(int files, std::int64_t bytes)
{
    return std::to_string(files) + (files == 1 ? " File" : " Files") + " / " + Megabytes(bytes);
}

std::string SelectionTotalsText(int files, std::int64_t bytes)
{
    return std::to_string(files) + " Sel. / " + Megabytes(bytes);
}

StatusPanels::StatusPanels(QWidget* parent) : QStatusBar(parent)
{
    setSizeGripEnabled(true);
    for (int i = 0; i < kPanelCount; ++i) {
        const int width = kWidths[static_cast<std::size_t>(i)];
        // The message names a file: its start says what was done and its end the file's type.
        const Qt::TextElideMode elide = i == 2 ? Qt::ElideMiddle : Qt::ElideRight;
        // In a narrow window the progress gives way first: it takes its width from the space the
        // other panels leave, up to its own.
        const bool progress = i == 4;
        auto* panel = new PanelLabel(width, progress ? kNarrowestPanel : width, elide, this);
        if (i == 3) panel->setFixedWidth(width);
        panels_[static_cast<std::size_t>(i)] = panel;
        addWidget(panel, progress ? 1 : 0);
    }

    // The sort panel shows one of a few known words: it fits the widest of them once, so that no
    // label is cut short and none widens the window later.
    QStringList sortLabels;
    for (int mode = 0; mode < browse::kSortModeCount; ++mode)
        sortLabels << QString::fromUtf8(browse::SortModeLabelsOf(mode).shortLabel);
    panels_[5]->widenToFit(sortLabels);

    clipboardSign_ = new QLabel(panels_[3]);
    clipboardSign_->setPixmap(IconFor(GalleryIcon::Clipboard).pixmap(16, 16));
    clipboardSign_->setToolTip(QStringLiteral("Files in clipboard available"));
    auto* signLayout = new QHBoxLayout(panels_[3]);
    signLayout->setContentsMargins(0, 0, 0, 0);
    signLayout->addWidget(clipboardSign_, 0, Qt::AlignCenter);
    clipboardSign_->hide();

    progress_ = new QProgressBar(panels_[4]);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    auto* progressLayout = new QHBoxLayout(panels_[4]);
    progressLayout->setContentsMargins(1, 1, 1, 1);
    progressLayout->addWidget(progress_);
}

void StatusPanels::setPanelText(int panel, const QString& text)
{
    if (panel < 0 || panel >= kPanelCount || panel == 3 || panel == 4) return;
    panels_[static_cast<std::size_t>(panel)]->setFullText(text);
}

QString StatusPanels::panelText(int panel) const
{
    if (panel < 0 || panel >= kPanelCount) return {};
    return panels_[static_cast<std::size_t>(panel)]->fullText();
}

QString StatusPanels::shownText(int panel) const
{
    if (panel < 0 || panel >= kPanelCount) return {};
    return panels_[static_cast<std::size_t>(panel)]->text();
}

QString StatusPanels::panelToolTip(int panel) const
{
    if (panel < 0 || panel >= kPanelCount) return {};
    return panels_[static_cast<std::size_t>(panel)]->toolTip();
}

void StatusPanels::setClipboardShown(bool shown)
{
    clipboardSign_->setVisible(shown);
}

bool StatusPanels::clipboardShown() const
{
    return !clipboardSign_->isHidden();
}

}  // namespace quillix::gallery
