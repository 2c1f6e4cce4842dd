#include "gallery/gallery_window.h"

#include "browse/file_operations.h"
#include "common/paths.h"
#include "container/container_file.h"
#include "gallery/delete_dialog.h"
#include "gallery/gallery_art.h"
#include "gallery/status_panels.h"
#include "gallery/tile_canvas.h"
#include "gallery/tile_painting.h"
#include "imaging/picture_properties.h"
#include "platform/about_dialog.h"
#include "platform/clipboard.h"
#include "platform/settings_dialog.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <QWindow>

#include <sys/stat.h>

namespace quillix::gallery {

namespace {

constexpr const char* kEncryptTip =
    "Encrypt (E): encrypts the picture in place.\nIts \"$\" file takes its place; the plain file is wiped.";
constexpr const char* kDecryptTip =
    "Decrypt (D): writes the plain picture back to disk for good.\nTo only look at it, open it and type the password.";

// The tool band: the toolbars on the marble picture.
class ToolBand : public QWidget {
public:
    explicit ToolBand(QWidget* parent) : QWidget(parent), marble_(QPixmap::fromImage(MarbleTile())) {}

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        painter.drawTiledPixmap(event->rect(), marble_, event->rect().topLeft());
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawLine(0, height() - 1, width(), height() - 1);
    }

private:
    QPixmap marble_;
};

QToolBar* MakeToolBar(QWidget* parent)
{
    auto* bar = new QToolBar(parent);
    bar->setIconSize(QSize(20, 20));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The marble shows through.
    bar->setStyleSheet(QStringLiteral("QToolBar { background: transparent; border: none; spacing: 1px; }"));
    return bar;
}

// `hint` names the button; `toolTip`, when given, says more than the name.
QToolButton* AddButton(QToolBar* bar, GalleryIcon icon, const QString& hint, const QString& toolTip = {})
{
    auto* button = new QToolButton(bar);
    button->setIcon(IconFor(icon));
    button->setToolTip(toolTip.isEmpty() ? hint : toolTip);
    // An icon alone names nothing to a screen reader (or to the end-to-end run).
    button->setAccessibleName(hint);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(button);
    return button;
}

std::string Title(int count, const std::string& folder)
{
    return std::to_string(count) + " Images - Quillix - " + folder;
}

std::int64_t FileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

}  // namespace

GalleryWindow::GalleryWindow(session::Session& session, viewer::ViewerWindow& viewer)
    : session_(session), viewer_(viewer), model_(session.Model()), selection_(model_), pointer_(selection_)
{
    model_.SetListener(this);
    resize(1000, 700);
    buildToolBand();

    scrollArea_ = new QScrollArea(this);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidgetResizable(false);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setFocusPolicy(Qt::NoFocus);
    canvas_ = new TileCanvas(
        {layout_, model_, selection_, pointer_},
        {[this](QMouseEvent* e) { canvasMousePress(e); }, [this](QMouseEvent* e) { canvasMouseMove(e); },
         [this](QMouseEvent* e) { canvasMouseRelease(e); }, [this](QMouseEvent* e) { canvasDoubleClick(e); }});
    thumbnails_ = std::make_unique<ThumbnailStore>(model_.Files(), session_.Crypto(), session_.Options(), *canvas_);
    // Nothing is shown while locked, and thumbnails wait while a batch run works on the files.
    thumbnails_->SetHold([this] { return locked_ || BatchActive(); });
    thumbnails_->SetTileSize(layout_.TileSize);
    canvas_->setThumbnails(thumbnails_.get());
    scrollArea_->setWidget(canvas_);
    scrollArea_->viewport()->installEventFilter(this);
    connect(scrollArea_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { UpdateVisibleTiles(); });
    setCentralWidget(scrollArea_);
    setFocusPolicy(Qt::StrongFocus);

    status_ = new StatusPanels(this);
    setStatusBar(status_);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &GalleryWindow::clipboardChanged);
    clipboardChanged();
    // The program's one pool, which the session holds.
    setWorkerPool(&session_.Pool());

    ReadTileSize();

    // The folder box starts at the last folder, or the current directory when that is gone.
    std::string folder = session_.LastDir();
    if (!IsFolder(folder)) folder = QDir::currentPath().toStdString();
    model_.SetFolderBox(WithSeparator(folder));
    ShowSortLabels(model_.SortMode());
}

GalleryWindow::~GalleryWindow()
{
    if (batch_) batch_->StopAndWait();
    model_.SetListener(nullptr);
}

void GalleryWindow::buildToolBand()
{
    auto* band = new ToolBand(this);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(2, 2, 2, 2);
    bandLayout->setSpacing(6);

    QToolBar* fileBar = MakeToolBar(band);
    connect(AddButton(fileBar, GalleryIcon::OpenImage, QStringLiteral("Open Image")), &QToolButton::clicked, this,
            &GalleryWindow::ShowImage);
    connect(AddButton(fileBar, GalleryIcon::Refresh, QStringLiteral("Refresh (F5)")), &QToolButton::clicked, this,
            &GalleryWindow::RefreshGallery);
    connect(AddButton(fileBar, GalleryIcon::Exit, QStringLiteral("Exit Program")), &QToolButton::clicked, this,
            &GalleryWindow::ExitProgram);

    QToolBar* editBar = MakeToolBar(band);
    connect(AddButton(editBar, GalleryIcon::Cut, QStringLiteral("Cut")), &QToolButton::clicked, this,
            [this] { CopySelectedToClipboard(true); });
    connect(AddButton(editBar, GalleryIcon::Copy, QStringLiteral("Copy")), &QToolButton::clicked, this,
            [this] { CopySelectedToClipboard(false); });
    connect(AddButton(editBar, GalleryIcon::Paste, QStringLiteral("Paste")), &QToolButton::clicked, this,
            &GalleryWindow::PasteFromClipboard);
    connect(AddButton(editBar, GalleryIcon::Delete, QStringLiteral("Delete")), &QToolButton::clicked, this,
            &GalleryWindow::DeleteSelectedFiles);
    connect(AddButton(editBar, GalleryIcon::RotateCcw, QStringLiteral("Rotate CCW (Shift + R)")), &QToolButton::clicked,
            this, [this] { RotateSelection(-1); });
    connect(AddButton(editBar, GalleryIcon::RotateCw, QStringLiteral("Rotate CW (R)")), &QToolButton::clicked, this,
            [this] { RotateSelection(+1); });
    // Unlocking is not viewing: the tips say what each does to the files on disk.
    connect(AddButton(editBar, GalleryIcon::Encrypt, QStringLiteral("Encrypt (E)"), QString::fromUtf8(kEncryptTip)),
            &QToolButton::clicked, this, [this] { EncryptDecryptSelection(true); });
    connect(AddButton(editBar, GalleryIcon::Decrypt, QStringLiteral("Decrypt (D)"), QString::fromUtf8(kDecryptTip)),
            &QToolButton::clicked, this, [this] { EncryptDecryptSelection(false); });
    connect(AddButton(editBar, GalleryIcon::Properties, QStringLiteral("Properties")), &QToolButton::clicked, this,
            &GalleryWindow::ShowProperties);

    QToolBar* viewBar = MakeToolBar(band);
    fitButton_ = AddButton(viewBar, GalleryIcon::ScaleToFit, QStringLiteral("Scale To Fit"));
    fitWidthButton_ = AddButton(viewBar, GalleryIcon::ScaleToWidth, QStringLiteral("Scale To With"));
    fullSizeButton_ = AddButton(viewBar, GalleryIcon::ScaleFullSize, QStringLiteral("Scale to 100%"));
    for (QToolButton* button : {fitButton_, fitWidthButton_, fullSizeButton_})
        button->setCheckable(true);
    connect(fitButton_, &QToolButton::clicked, this, [this] { FitButtonClicked(true, false); });
    connect(fitWidthButton_, &QToolButton::clicked, this, [this] { FitButtonClicked(true, true); });
    connect(fullSizeButton_, &QToolButton::clicked, this,
            [this] { FitButtonClicked(false, session_.Options().FitWidth); });
    sortButton_ = AddButton(viewBar, GalleryIcon::Sort, QString());
    connect(sortButton_, &QToolButton::clicked, this, [this] {
        ShowFolderResult(model_.CycleSortMode(viewer_.CurrentPath()));
        UpdateLayout();
    });

    QToolBar* folderBar = MakeToolBar(band);
    folderEdit_ = new QLineEdit(folderBar);
    folderEdit_->setReadOnly(true);
    folderEdit_->setFixedWidth(190);
    folderEdit_->setFocusPolicy(Qt::NoFocus);
    folderEdit_->setToolTip(QStringLiteral("Double-click to choose the folder"));
    folderEdit_->installEventFilter(this);
    folderBar->addWidget(folderEdit_);
    connect(AddButton(folderBar, GalleryIcon::ChangeFolder, QStringLiteral("Change Folder")), &QToolButton::clicked,
            this, &GalleryWindow::BrowseForFolder);
    connect(AddButton(folderBar, GalleryIcon::FolderUp, QStringLiteral("Folder Up")), &QToolButton::clicked, this,
            &GalleryWindow::FolderUp);

    QToolBar* helpBar = MakeToolBar(band);
    connect(AddButton(helpBar, GalleryIcon::Settings, QStringLiteral("Settings")), &QToolButton::clicked, this, [this] {
        platform::ShowSettingsDialog(this, session_.Options(), session_.AppSettings(), session_.RegeditSettings(),
                                     MarbleTile());
    });
    connect(AddButton(helpBar, GalleryIcon::About, QStringLiteral("About")), &QToolButton::clicked, this,
            [this] { platform::ShowAboutDialog(this, MarbleTile()); });

    for (QToolBar* bar : {fileBar, editBar, viewBar, folderBar, helpBar})
        bandLayout->addWidget(bar);
    bandLayout->addStretch(1);
    setMenuWidget(band);
}

void GalleryWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    prepareToShow();
}

void GalleryWindow::prepareToShow()
{
    ShowSortLabels(model_.SortMode());
    SetFitButtons();
    ReadTileSize();
    RestorePlacement();
    if (model_.FolderBox().empty()) {
        const std::string current = viewer_.CurrentPath();
        model_.SetFolderBox(WithSeparator(current.empty() ? QDir::currentPath().toStdString() : FolderOf(current)));
    }
    if (model_.Count() == 0 || model_.FolderBox() != model_.LoadedFolderWithSeparator())
        ShowFolderResult(model_.LoadFolder(model_.FolderBox()));
    if (!model_.FocusPath().empty()) {
        const int index = model_.IndexOfFile(model_.FocusPath());
        if (index >= 0) {
            model_.FocusTile(index);
            model_.ChooseOnly(index);
        }
    }
    SetTitle();
    UpdateLayout();
    // No tile is made current for the user: E, D, R or F2 would act on it unasked.
    model_.ApplyFocusPath();
    SelectionShown();
    activateWindow();
    setFocus();
}

void GalleryWindow::OpenAtStart(const std::string& folder, const std::string& notice)
{
    model_.OpenFolder(folder);
    show();
    // After showing, whose folder load writes the status line.
    if (!notice.empty()) SetStatusMessage(notice);
}

QString GalleryWindow::StatusText() const
{
    return status_->panelText(2);
}

void GalleryWindow::SetTitle()
{
    setWindowTitle(locked_ ? QStringLiteral("Quillix")
                           : QString::fromStdString(Title(model_.Count(), model_.FolderBox())));
}

void GalleryWindow::setLocked(bool locked)
{
    locked_ = locked;
    // Disabled widgets take no click, wheel turn or drop: the tool band and the tiles do nothing.
    menuWidget()->setEnabled(!locked);
    centralWidget()->setEnabled(!locked);
    folderEdit_->setText(locked ? QString() : QString::fromStdString(model_.FolderBox()));
    SetTitle();
    RefreshStatus();
    canvas_->setBlank(locked);
    thumbnails_->Pump();
}

// After every change of the list: its selection was restored only after the list was rebuilt.
void GalleryWindow::ShowFolderResult(const Result<void>& outcome)
{
    RefreshStatus();
    if (!outcome) SetStatusMessage(outcome.error().message);
}

void GalleryWindow::SetStatusMessage(const std::string& text)
{
    statusMessage_ = text;
    // A message may name a file: kept until unlocked.
    if (!locked_) status_->setPanelText(2, QString::fromStdString(text));
}

void GalleryWindow::ShowGallery()
{
    if (locked_) return;
    // A window manager places a window mapped again as if it were new (often at the top-left
    // corner) unless it is told where the window goes. QWidget would skip an unchanged geometry,
    // so the window's own handle is told.
    if (hiddenGeometry_.isValid() && !isVisible() && !isMaximized() && windowHandle())
        windowHandle()->setGeometry(hiddenGeometry_);
    show();
    raise();
    activateWindow();
}

void GalleryWindow::ShowImage()
{
    const std::string path = model_.CurrentFileName();
    if (path.empty() || locked_) return;
    hiddenGeometry_ = geometry();
    viewer_.OpenAsked(path);
    hide();
}

void GalleryWindow::ExitProgram()
{
    close();
}

void GalleryWindow::RefreshGallery()
{
    ShowFolderResult(model_.RefreshGallery());
    UpdateLayout();
    canvas_->update();
}

void GalleryWindow::FolderUp()
{
    ShowFolderResult(model_.FolderUp());
    UpdateLayout();
    RefreshStatus();
}

void GalleryWindow::BrowseForFolder()
{
    QFileDialog dialog(this, QStringLiteral("Choose image folder"), QString::fromStdString(model_.BrowseStartFolder()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own dialog: a desktop's native chooser may add the folder to its recent-files list.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setHistory({});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    ShowFolderResult(model_.ChooseFolder(dialog.selectedFiles().first().toStdString()));
    UpdateLayout();
}

void GalleryWindow::CopySelectedToClipboard(bool cut)
{
    std::vector<std::string> paths;
    for (const int i : model_.SelectedIndices())
        if (i >= 0 && i < model_.Count()) paths.push_back(model_.Files()[static_cast<std::size_t>(i)]);
    if (paths.empty()) return;
    const bool ok = platform::PutFilesOnClipboard(paths, cut);
    SetStatusMessage(platform::CopyStatusText(static_cast<int>(paths.size()), ok));
}

void GalleryWindow::RenameSelection()
{
    const std::vector<std::string> paths = selection_.BuildSelectedFileList();
    if (paths.empty()) return;
    const container::NameChangeKey key = container::NameChangeKeyOf(session_.Crypto());
    const bool renamed = paths.size() == 1
                             ? browse::RenameOneFile(paths.front(), session_.dialogs(), selection_.ReselectNames, key)
                             : browse::BatchRename(paths, session_.dialogs(), selection_.ReselectNames, key);
    if (!renamed) return;
    RefreshGallery();
    selection_.ReselectByNames();
    SelectionShown();
}

void GalleryWindow::PasteFromClipboard()
{
    selection_.ClearReselectNames();
    const platform::ClipboardFiles files = platform::ReadFilesFromClipboard();
    if (files.paths.empty()) return;
    const std::string target =
        browse::PasteTargetFolder(model_.FolderBox(), model_.LoadedFolder(), QDir::currentPath().toStdString());
    const container::NameChangeKey key = container::NameChangeKeyOf(session_.Crypto());
    selection_.ReselectNames = browse::PasteFiles(
        files.paths, files.cut, target, session_.dialogs(),
        [this] { return (HeldModifiers() & Qt::ShiftModifier) != 0; }, key);
    ReloadAndReselect(target);
}

void GalleryWindow::ReloadAndReselect(const std::string& folder)
{
    // An encrypted or decrypted current file stays current under its new name.
    const std::string formerCurrent = model_.CurrentFileName();
    model_.ClearSelection();
    ShowFolderResult(model_.LoadFolder(folder));
    UpdateLayout();
    selection_.ReselectByNames(formerCurrent);
    SelectionShown();
}

void GalleryWindow::DeleteSelectedFiles()
{
    if (model_.SelectedIndices().empty()) return;
    // The files the dialog asks about, taken now: a run that ends while it is open rebuilds the
    // list and selects its own files, which the user never chose to delete.
    std::vector<std::string> paths;
    for (const int i : model_.SelectedIndices())
        if (i >= 0 && i < model_.Count()) paths.push_back(model_.Files()[static_cast<std::size_t>(i)]);
    // The dialog names and counts the files that are still there.
    std::vector<std::string> names;
    std::int64_t bytes = 0;
    for (const std::string& path : paths) {
        const std::int64_t size = FileSize(path);
        if (size < 0) continue;
        names.push_back(FileNameOf(path));
        bytes += size;
    }
    const DeleteMode mode = ChooseDeleteMode(names, bytes, this);
    if (mode == DeleteMode::Cancel) return;
    selection_.ClearReselectNames();
    const std::string current = model_.CurrentFileName();
    const bool currentGoes = std::find(paths.begin(), paths.end(), current) != paths.end();
    const bool wasIdle = !BatchActive();
    StartBatch(mode == DeleteMode::Secure ? BatchOperation::SecureDelete : BatchOperation::Delete, std::move(paths));
    // The files are still there: they go one by one, and the end of the run rebuilds the list
    // again. A current tile among them would be what F2 acts on meanwhile.
    model_.ClearSelection();
    if (currentGoes && wasIdle && BatchActive()) model_.MakeCurrent(-1);
    ShowFolderResult(model_.LoadFolder(model_.LoadedFolder()));
    UpdateLayout();
    canvas_->update();
}

bool GalleryWindow::EnsurePasswordForRun(bool encrypt, const std::vector<std::string>& paths)
{
    // A password encrypts only once it is known good; passing files back that are encrypted
    // already needs none.
    const bool encrypting = encrypt && std::any_of(paths.begin(), paths.end(),
                                                   [](const std::string& p) { return !container::IsEncryptedFile(p); });
    return encrypting ? session_.Crypto().EnsureConfirmedPassword() : session_.Crypto().EnsurePassword(false);
}

void GalleryWindow::EncryptDecryptSelection(bool encrypt)
{
    std::vector<std::string> paths = selection_.BuildSelectedFileList();
    // Nothing chosen: no password is asked for nothing.
    if (paths.empty()) return;
    if (!EnsurePasswordForRun(encrypt, paths)) return;
    selection_.ClearReselectNames();
    StartBatch(encrypt ? BatchOperation::Encrypt : BatchOperation::Decrypt, std::move(paths));
}

void GalleryWindow::RotateSelection(int direction)
{
    std::vector<std::string> paths = selection_.BuildSelectedFileList();
    if (paths.empty()) return;
    selection_.ClearReselectNames();
    StartBatch(direction <= 0 ? BatchOperation::RotateCounterClockwise : BatchOperation::RotateClockwise,
               std::move(paths));
}

void GalleryWindow::ForgetPassword()
{
    session_.Crypto().ClearPassword();
    session_.Crypto().EnsurePassword(false);
}

void GalleryWindow::PasswordForgotten()
{
    thumbnails_->PasswordForgotten();
}

void GalleryWindow::ShowProperties()
{
    const std::string path = model_.CurrentFileName();
    if (path.empty()) return;
    std::string text;
    for (const std::string& line : imaging::PropertiesLines(imaging::GatherProperties(path, session_.Crypto())))
        text += (text.empty() ? "" : "\n") + line;
    session_.dialogs().ShowMessage("Properties", text, MessageIcon::None, MessageButtons::Ok);
}

void GalleryWindow::StartBatch(BatchOperation operation, std::vector<std::string> paths)
{
    if (!batch_ || batch_->Active()) return;
    BatchSettings settings;
    settings.options = session_.Crypto().OptionsForNextOperation();
    // The run keeps its own copy: forgetting the password during the run affects later runs.
    if (operation == BatchOperation::Encrypt || operation == BatchOperation::Decrypt) {
        runPasswordGeneration_ = session_.Crypto().PasswordGeneration();
        settings.password = session_.Crypto().ActivePassword();
    }
    const std::optional<BatchStep> first =
        batch_->StartBatch(operation, std::move(paths), std::move(settings), selection_.ReselectNames);
    if (!first) return;
    QProgressBar* progress = status_->progress();
    progress->setRange(0, batch_->Count());
    progress->setValue(0);
    progress->show();
    ApplyBatchStep(*first);
}

// Applies the results in list order. A message box shown here runs a nested event loop, in which
// further results may arrive: they wait until the box is closed, so the order holds.
void GalleryWindow::CollectBatch()
{
    if (!batch_ || !batch_->Active()) return;
    if (collecting_) {
        collectAgain_ = true;
        return;
    }
    collecting_ = true;
    do {
        collectAgain_ = false;
        const BatchCollect collected = batch_->Collect();
        for (const BatchStep& step : collected.steps)
            ApplyBatchStep(step);
        if (collected.finished) {
            FinishBatch();
            break;
        }
    } while (collectAgain_);
    collecting_ = false;
}

void GalleryWindow::ApplyBatchStep(const BatchStep& step)
{
    for (const BatchNotice& notice : step.notices)
        session_.dialogs().ShowMessage(notice.caption, notice.text, MessageIcon::Warning, MessageButtons::Ok);
    if (step.passwordProven) session_.Crypto().ConfirmPassword(runPasswordGeneration_);
    if (step.status) SetStatusMessage(*step.status);
    status_->progress()->setValue(step.position);
}

void GalleryWindow::FinishBatch()
{
    const BatchOperation operation = batch_->Operation();
    QProgressBar* progress = status_->progress();
    progress->hide();
    progress->setValue(0);
    const std::vector<std::string> notes = batch_->FinishRun();
    ++finishedRuns_;
    if (IsRotation(operation)) {
        // The list and the selection stay; the sizes and the thumbnails are taken anew from the
        // turned files.
        totals_.Read(model_.Files());
        RefreshStatus();
        ResetThumbnails();
        canvas_->update();
        if (const std::optional<std::string> status = batch_->FinalStatus()) SetStatusMessage(*status);
    } else {
        ReloadAndReselect(model_.LoadedFolder());
        SetStatusMessage("Done");
    }
    if (const std::optional<BatchNotice> summary = BatchSummary(operation, notes))
        session_.dialogs().ShowMessage(summary->caption, summary->text, MessageIcon::Warning, MessageButtons::Ok);
    thumbnails_->Pump();
}

Viewport GalleryWindow::CurrentViewport() const
{
    const QWidget* view = scrollArea_->viewport();
    return {scrollArea_->horizontalScrollBar()->value(), scrollArea_->verticalScrollBar()->value(), view->width(),
            view->height()};
}

void GalleryWindow::UpdateLayout()
{
    const int width = scrollArea_->viewport()->width();
    layout_ = gallery::UpdateLayout(width, layout_.TileSize, model_.Count());
    thumbnails_->SetTileSize(layout_.TileSize);
    canvas_->resize(width, CanvasHeight(layout_));
    UpdateVisibleTiles();
}

void GalleryWindow::ReadTileSize()
{
    const TileSizeChoice tileSize = LoadTileSize(session_.AppSettings(), session_.Options().TileSize);
    session_.Options().TileSize = tileSize.TileSize;
    layout_.TileSize = tileSize.TileSize;
    thumbnails_->SetTileSize(layout_.TileSize);
    if (tileSize.stored) session_.SaveSettings();
}

void GalleryWindow::SetTileSize(int tileSize)
{
    layout_.TileSize = tileSize;
    session_.Options().TileSize = tileSize;
    UpdateLayout();
    canvas_->update();
    session_.RememberTileSize(tileSize);
}

void GalleryWindow::RefreshStatus()
{
    if (locked_) {
        for (const int panel : {0, 1, 2})
            status_->setPanelText(panel, QString());
        return;
    }
    const FileTotals listed = totals_.Listed();
    status_->setPanelText(0, QString::fromStdString(FolderTotalsText(listed.count, listed.bytes)));
    const FileTotals selected = totals_.Selected(model_.SelectedIndices());
    status_->setPanelText(1, QString::fromStdString(SelectionTotalsText(selected.count, selected.bytes)));
    status_->setPanelText(2, QString::fromStdString(statusMessage_));
    status_->setClipboardShown(clipboardHasFiles_);
}

// Asked only when the clipboard changes: on X11 asking another program's clipboard can block.
void GalleryWindow::clipboardChanged()
{
    const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
    clipboardHasFiles_ = offered && !platform::FilesFromMimeData(offered).paths.empty();
    status_->setClipboardShown(clipboardHasFiles_);
}

void GalleryWindow::SetFitButtons()
{
    const settings::AppOptions& options = session_.Options();
    fitButton_->setChecked(options.ScaleToFit && !options.FitWidth);
    fitWidthButton_->setChecked(options.ScaleToFit && options.FitWidth);
    fullSizeButton_->setChecked(!options.ScaleToFit);
}

void GalleryWindow::FitButtonClicked(bool scaleToFit, bool fitWidth)
{
    session_.Options().ScaleToFit = scaleToFit;
    session_.Options().FitWidth = fitWidth;
    SetFitButtons();
    session_.SaveSettings();
}

void GalleryWindow::RestorePlacement()
{
    // Once: after the viewer the window comes back where the user left it.
    if (placementRestored_) return;
    placementRestored_ = true;
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect();
    const QRect frame = geometry();
    const std::optional<WindowPlacement> placement =
        LoadWindowPlacement(session_.AppSettings(), {frame.x(), frame.y(), frame.width(), frame.height()},
                            {screen.x(), screen.y(), screen.width(), screen.height()});
    if (!placement) return;
    const WindowBounds& b = placement->bounds;
    setGeometry(b.left, b.top, b.width, b.height);
    if (placement->state == WindowState::Maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void GalleryWindow::SavePlacement()
{
    if (!placementRestored_) return;
    const WindowState state = isMaximized()   ? WindowState::Maximized
                              : isMinimized() ? WindowState::Minimized
                                              : WindowState::Normal;
    const QRect frame = geometry();
    if (SaveWindowPlacement(session_.AppSettings(), state, {frame.x(), frame.y(), frame.width(), frame.height()},
                            layout_.TileSize))
        session_.SaveSettings();
}

void GalleryWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    UpdateLayout();
    canvas_->update();
    SavePlacement();
}

// Also when the viewer takes over, since the program may end from there.
void GalleryWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    SavePlacement();
}

void GalleryWindow::closeEvent(QCloseEvent* event)
{
    // The program ends: the files being worked on are finished, no further one is started.
    if (batch_) batch_->StopAndWait();
    SavePlacement();
    event->accept();
    // The viewer is the main window: closing it ends the program.
    viewer_.close();
}

bool GalleryWindow::eventFilter(QObject* watched, QEvent* event)
{
    const bool onViewport = scrollArea_ && watched == scrollArea_->viewport();
    if (onViewport && event->type() == QEvent::Wheel) {
        handleWheel(static_cast<QWheelEvent*>(event));
        return true;
    }
    if (onViewport && event->type() == QEvent::Resize) {
        UpdateLayout();
        return false;
    }
    if (watched == folderEdit_ && event->type() == QEvent::MouseButtonDblClick) {
        BrowseForFolder();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void GalleryWindow::handleWheel(QWheelEvent* event)
{
    // The keyboard as it is now; the event's own modifiers too, for platforms that cannot tell.
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers() | event->modifiers();
    WheelTurn turn;
    turn.delta = event->angleDelta().y();
    turn.ctrlOrShift = (held & (Qt::ControlModifier | Qt::ShiftModifier)) != 0;
    turn.mouseRevert = session_.Options().MouseRevert;
    const WheelEffect effect = HandleGalleryWheel(wheel_, turn, layout_, CurrentViewport());
    if (effect.action == WheelAction::TileSize)
        SetTileSize(effect.TileSize);
    else if (effect.action == WheelAction::Scroll)
        scrollArea_->verticalScrollBar()->setValue(effect.ScrollY);
    event->accept();
}

void GalleryWindow::keyPressEvent(QKeyEvent* event)
{
    if (locked_) {
        event->accept();
        return;
    }
    const auto modifiers = static_cast<Modifiers>(event->modifiers().toInt());
    const auto held = static_cast<Modifiers>(HeldModifiers().toInt());
    const GalleryKeyResult result = GalleryCommandsForKey(event->key(), modifiers, held, model_.Count() == 0);
    for (const GalleryKeyAction& action : result.actions)
        RunKeyCommand(action, (modifiers & kShift) != 0, (modifiers & kControl) != 0);
    // A key may have changed the selection.
    RefreshStatus();
    if (result.consumed)
        event->accept();
    else
        QMainWindow::keyPressEvent(event);
}

Qt::KeyboardModifiers GalleryWindow::HeldModifiers() const
{
    return heldModifiers_ ? heldModifiers_() : QGuiApplication::queryKeyboardModifiers();
}

void GalleryWindow::RunKeyCommand(const GalleryKeyAction& action, bool shift, bool ctrl)
{
    switch (action.command) {
    case GalleryCommand::Rename: RenameSelection(); break;
    case GalleryCommand::ClipboardCopy:
    case GalleryCommand::ClipboardCut:
    case GalleryCommand::ClipboardPaste:
        folderEdit_->deselect();
        if (!action.acts) break;
        if (action.command == GalleryCommand::ClipboardPaste)
            PasteFromClipboard();
        else
            CopySelectedToClipboard(action.command == GalleryCommand::ClipboardCut);
        break;
    case GalleryCommand::ExitProgram: ExitProgram(); break;
    case GalleryCommand::DeleteFiles: DeleteSelectedFiles(); break;
    case GalleryCommand::Encrypt: EncryptDecryptSelection(true); break;
    case GalleryCommand::Decrypt: EncryptDecryptSelection(false); break;
    case GalleryCommand::Rotate: RotateSelection(action.argument); break;
    case GalleryCommand::ForgetPassword: ForgetPassword(); break;
    case GalleryCommand::SelectAll:
        if (selection_.SelectAll()) canvas_->update();
        break;
    case GalleryCommand::Refresh: RefreshGallery(); break;
    case GalleryCommand::ToggleSelection:
        if (selection_.ToggleCurrent()) canvas_->update();
        break;
    case GalleryCommand::OpenCurrent: ShowImage(); break;
    case GalleryCommand::Move: {
        const int rows = RowsPerPage(scrollArea_->viewport()->height(), layout_.TileSize);
        if (selection_.MoveByKey(static_cast<TileMove>(action.argument), shift, ctrl, layout_.Columns, rows,
                                 FirstTileInView(layout_, CurrentViewport())))
            canvas_->update();
        break;
    }
    case GalleryCommand::None: break;
    }
}

void GalleryWindow::SelectionShown()
{
    RefreshStatus();
    canvas_->update();
}

void GalleryWindow::canvasMousePress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    if (pointer_.MouseDown({pos.x(), pos.y()}, ctrl, shift, layout_, CurrentViewport())) SelectionShown();
}

void GalleryWindow::canvasMouseMove(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (pointer_.MouseMove({pos.x(), pos.y()}, layout_)) SelectionShown();
}

void GalleryWindow::canvasMouseRelease(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    if (pointer_.MouseUp({pos.x(), pos.y()}, layout_, CurrentViewport())) SelectionShown();
}

void GalleryWindow::canvasDoubleClick(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    if (pointer_.DoubleClick({pos.x(), pos.y()}, layout_, CurrentViewport()) < 0) return;
    ShowImage();
}

void GalleryWindow::listRebuilt(int)
{
    totals_.Read(model_.Files());
    ResetThumbnails();
    UpdateLayout();
    SetTitle();
    RefreshStatus();
    canvas_->update();
}

void GalleryWindow::layoutChanged()
{
    UpdateLayout();
}

// The model asks for a repaint whenever it changed the current tile or the selection.
void GalleryWindow::repaintRequested()
{
    RefreshStatus();
    canvas_->update();
}

void GalleryWindow::ensureVisible(int index)
{
    const Viewport view = CurrentViewport();
    if (IsIndexVisible(layout_, index, view)) return;
    if (const std::optional<int> y = ScrollToIndex(layout_, index, view.height))
        scrollArea_->verticalScrollBar()->setValue(*y);
}

void GalleryWindow::statusChanged()
{
    RefreshStatus();
}

void GalleryWindow::folderBoxChanged(const std::string& text)
{
    folderEdit_->setText(locked_ ? QString() : QString::fromStdString(text));
}

void GalleryWindow::ShowSortLabels(int mode)
{
    const browse::SortModeLabels labels = browse::SortModeLabelsOf(mode);
    sortButton_->setToolTip(QString::fromUtf8(labels.longLabel));
    status_->setPanelText(5, QString::fromUtf8(labels.shortLabel));
}

void GalleryWindow::sortModeChanged(int mode)
{
    ShowSortLabels(mode);
    // Only a new mode is worth a write of the file.
    session_.RememberSortMode(mode);
}

void GalleryWindow::lastDirChosen(const std::string& folder)
{
    session_.RememberLastDir(folder);
}

void GalleryWindow::ResetThumbnails()
{
    thumbnails_->Reset();
    UpdateVisibleTiles();
}

void GalleryWindow::UpdateVisibleTiles()
{
    const Viewport view = CurrentViewport();
    const RowSpan rows = RowsTouched(layout_, view.scrollY, view.scrollY + view.height);
    if (rows.empty())
        thumbnails_->SetVisible(0, -1);
    else
        thumbnails_->SetVisible(rows.first * layout_.Columns, (rows.last + 1) * layout_.Columns - 1);
}

void GalleryWindow::setWorkerPool(workers::WorkerPool* pool)
{
    if (batch_) batch_->StopAndWait();
    batch_.reset();
    pool_ = pool;
    if (pool_) {
        batch_ = std::make_unique<BatchRunner>(*pool_, pool_->ThreadCount(), [this, toWindow = fromWorkers_.sender()] {
            toWindow.Post([this] { CollectBatch(); });
        });
    }
    thumbnails_->SetPool(pool_);
}

}  // namespace quillix::gallery
