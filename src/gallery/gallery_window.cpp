#include "gallery/gallery_window.h"

#include "common/paths.h"
#include "container/container_file.h"
#include "platform/clipboard.h"
#include "viewer/viewer_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillix::gallery {
namespace {

QToolButton* MakeButton(QWidget* parent, const QString& text, const QString& hint)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    return button;
}

}  // namespace

GalleryWindow::GalleryWindow(viewer::ViewerWindow& viewer)
    : viewer_(viewer), model_(viewer.FileList(), viewer.Options(), this)
{
    setWindowTitle(QStringLiteral("Quillix"));
    resize(900, 640);

    folderBox_ = new QLineEdit(this);
    auto* upButton = MakeButton(this, tr("Up"), tr("Folder up"));
    auto* browseButton = MakeButton(this, tr("Browse…"), tr("Choose image folder"));
    sortButton_ = MakeButton(this, {}, {});
    fitButton_ = MakeButton(this, tr("Fit"), QStringLiteral("Scale To Fit"));
    fitWidthButton_ = MakeButton(this, tr("Width"), QStringLiteral("Scale To With"));
    fullSizeButton_ = MakeButton(this, tr("100%"), QStringLiteral("Scale to 100%"));
    auto* openButton = MakeButton(this, tr("Open"), QStringLiteral("Open Image"));
    for (QToolButton* button : {fitButton_, fitWidthButton_, fullSizeButton_})
        button->setCheckable(true);

    auto* bar = new QHBoxLayout;
    bar->addWidget(upButton);
    bar->addWidget(browseButton);
    bar->addWidget(folderBox_, 1);
    bar->addWidget(sortButton_);
    bar->addWidget(fitButton_);
    bar->addWidget(fitWidthButton_);
    bar->addWidget(fullSizeButton_);
    bar->addWidget(openButton);

    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    status_ = new QLabel(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(list_, 1);
    layout->addWidget(status_);

    connect(folderBox_, &QLineEdit::returnPressed, this, [this] {
        const std::string folder = WithSeparator(folderBox_->text().toStdString());
        model_.FolderBox = folder;
        model_.CurrentIndex = -1;
        ShowFolderError(model_.LoadFolder(folder));
        FocusFirstWhenNone();
    });
    connect(upButton, &QToolButton::clicked, this, [this] {
        ShowFolderError(model_.FolderUp());
        FocusFirstWhenNone();
    });
    connect(browseButton, &QToolButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Choose image folder"),
                                                                 QString::fromStdString(model_.BrowseStartFolder()));
        if (chosen.isEmpty()) return;
        ShowFolderError(model_.ChooseFolder(chosen.toStdString()));
        FocusFirstWhenNone();
    });
    connect(sortButton_, &QToolButton::clicked, this,
            [this] { ShowFolderError(model_.CycleSortMode(viewer_.CurrentPath())); });
    connect(fitButton_, &QToolButton::clicked, this, [this] { FitButtonClicked(true, false); });
    connect(fitWidthButton_, &QToolButton::clicked, this, [this] { FitButtonClicked(true, true); });
    connect(fullSizeButton_, &QToolButton::clicked, this,
            [this] { FitButtonClicked(false, viewer_.Options().FitWidth); });
    connect(openButton, &QToolButton::clicked, this, &GalleryWindow::ShowImage);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!syncingList_ && row >= 0) model_.SetCurrentIndex(row);
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        model_.SetCurrentIndex(list_->row(item));
        ShowImage();
    });

    // The folder box starts at the last folder, or the current directory when that is gone.
    std::string folder = viewer_.AppSettings().PopString("LastDir");
    if (!IsFolder(folder)) folder = QDir::currentPath().toStdString();
    model_.FolderBox = WithSeparator(folder);
    folderBox_->setText(QString::fromStdString(model_.FolderBox));
    sortModeChanged(model_.SortMode());
}

void GalleryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    prepareToShow();
}

void GalleryWindow::prepareToShow()
{
    SetFitButtons();
    if (model_.FolderBox.empty()) {
        const std::string current = viewer_.CurrentPath();
        model_.FolderBox = WithSeparator(current.empty() ? QDir::currentPath().toStdString() : FolderOf(current));
        folderBox_->setText(QString::fromStdString(model_.FolderBox));
    }
    if (model_.Count() == 0 || model_.FolderBox != model_.LoadedFolderWithSeparator)
        ShowFolderError(model_.LoadFolder(model_.FolderBox));
    setWindowTitle(QString::number(model_.Count()) + QStringLiteral(" Images - Quillix - ") +
                   QString::fromStdString(model_.FolderBox));
    FocusFirstWhenNone();
    repaintRequested();
    model_.ApplyFocusPath();
    activateWindow();
    list_->setFocus();
}

void GalleryWindow::OpenAtStart(const std::string& folder, const std::string& notice)
{
    model_.OpenFolder(folder);
    show();
    // After showing, whose folder load writes the status line.
    if (!notice.empty()) status_->setText(QString::fromStdString(notice));
}

QString GalleryWindow::StatusText() const
{
    return status_->text();
}

void GalleryWindow::FocusFirstWhenNone()
{
    if (model_.CurrentIndex < 0 && model_.Count() > 0) model_.FocusTile(0);
}

void GalleryWindow::ShowFolderError(const Result<void>& outcome)
{
    status_->setText(outcome ? QString() : QString::fromStdString(outcome.error().message));
}

void GalleryWindow::ShowGallery()
{
    show();
    raise();
    activateWindow();
}

void GalleryWindow::ShowImage()
{
    const std::string path = model_.CurrentFileName();
    if (path.empty()) return;
    viewer_.OpenFromGallery(path);
    hide();
}

void GalleryWindow::CopySelectedToClipboard(bool cut)
{
    if (model_.SelectedIndices.empty()) return;
    std::vector<std::string> paths;
    for (const int i : model_.SelectedIndices)
        if (i >= 0 && i < model_.Count()) paths.push_back(model_.Files()[static_cast<std::size_t>(i)]);
    const bool ok = platform::PutFilesOnClipboard(paths, cut);
    statusMessage_ = platform::CopyStatusText(static_cast<int>(model_.SelectedIndices.size()), ok);
    status_->setText(QString::fromStdString(statusMessage_));
}

void GalleryWindow::listRebuilt(int)
{
    syncingList_ = true;
    list_->clear();
    for (const std::string& path : model_.Files()) {
        auto* item = new QListWidgetItem(QString::fromStdString(FileNameOf(path)), list_);
        if (container::IsEncryptedFile(path)) item->setToolTip(tr("Encrypted"));
    }
    syncingList_ = false;
    repaintRequested();
}

void GalleryWindow::repaintRequested()
{
    syncingList_ = true;
    if (model_.CurrentIndex >= 0 && model_.CurrentIndex < list_->count())
        list_->setCurrentRow(model_.CurrentIndex);
    else
        list_->setCurrentRow(-1);
    syncingList_ = false;
}

void GalleryWindow::ensureVisible(int index)
{
    if (index >= 0 && index < list_->count()) list_->scrollToItem(list_->item(index));
}

void GalleryWindow::folderBoxChanged(const std::string& text)
{
    folderBox_->setText(QString::fromStdString(text));
}

void GalleryWindow::sortModeChanged(int mode)
{
    const SortModeLabels labels = SortModeLabelsOf(mode);
    sortButton_->setText(QString::fromUtf8(labels.shortLabel));
    sortButton_->setToolTip(QString::fromUtf8(labels.longLabel));
    viewer_.AppSettings().PushInt("SORT_MODE", mode);
    viewer_.SaveSettings();
}

void GalleryWindow::lastDirChosen(const std::string& folder)
{
    viewer_.AppSettings().PushString("LastDir", folder);
    viewer_.SaveSettings();
}

void GalleryWindow::SetFitButtons()
{
    const settings::AppOptions& options = viewer_.Options();
    fitButton_->setChecked(options.ScaleToFit && !options.FitWidth);
    fitWidthButton_->setChecked(options.ScaleToFit && options.FitWidth);
    fullSizeButton_->setChecked(!options.ScaleToFit);
}

void GalleryWindow::FitButtonClicked(bool scaleToFit, bool fitWidth)
{
    viewer_.Options().ScaleToFit = scaleToFit;
    viewer_.Options().FitWidth = fitWidth;
    SetFitButtons();
    viewer_.SaveSettings();
}

void GalleryWindow::keyPressEvent(QKeyEvent* event)
{
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        ShowImage();
    } else if (ctrl && (event->key() == Qt::Key_C || event->key() == Qt::Key_X)) {
        CopySelectedToClipboard(event->key() == Qt::Key_X);
    } else if (event->key() == Qt::Key_Escape) {
        close();
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void GalleryWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    // The viewer is the main window: closing it ends the program.
    viewer_.close();
}

}  // namespace quillix::gallery
