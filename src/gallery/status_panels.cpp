#include "gallery/status_panels.h"

#include "gallery/gallery_art.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

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

}  // namespace

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
        auto* panel = new QLabel(this);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        // At least the panel's width; wider when the desktop's font needs more for its text.
        panel->setMinimumWidth(kWidths[static_cast<std::size_t>(i)]);
        if (i == 3 || i == 4) panel->setFixedWidth(kWidths[static_cast<std::size_t>(i)]);
        panel->setContentsMargins(3, 0, 3, 0);
        panels_[static_cast<std::size_t>(i)] = panel;
        addWidget(panel);
    }

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
    QLabel* label = panels_[static_cast<std::size_t>(panel)];
    label->setText(text);
    // The panel's width, or more when the desktop's font needs it: a total is never cut short.
    const QMargins margins = label->contentsMargins();
    const int needed =
        label->fontMetrics().horizontalAdvance(text) + margins.left() + margins.right() + 2 * label->frameWidth() + 4;
    label->setMinimumWidth(std::max(kWidths[static_cast<std::size_t>(panel)], needed));
}

QString StatusPanels::panelText(int panel) const
{
    if (panel < 0 || panel >= kPanelCount) return {};
    return panels_[static_cast<std::size_t>(panel)]->text();
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
