#include "platform/about_dialog.h"

#include "platform/dialog_art.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quillix::platform {
namespace {

constexpr int kClientWidth = 313;
constexpr int kClientHeight = 233;
constexpr int kFooterHeight = 36;

QLabel* AddText(QWidget* parent, const QString& text, const QFont& font, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setGeometry(geometry);
    return label;
}

QString LinkHtml(const AboutLink& link)
{
    return QStringLiteral("<a href=\"%1\" style=\"color:#0000ff; text-decoration:underline\">%2</a>")
        .arg(link.url.toString(QUrl::FullyEncoded).toHtmlEscaped(), link.text.toHtmlEscaped());
}

// The document `name` as installed next to the program, else in the source tree it was built from.
QUrl DocumentUrl(const QString& appDir, const QString& installedName, const QString& sourceName)
{
    const QString installed = QDir(appDir).absoluteFilePath(QStringLiteral("../share/doc/quillix/") + installedName);
    if (QFileInfo::exists(installed)) return QUrl::fromLocalFile(QDir::cleanPath(installed));
    return QUrl::fromLocalFile(QStringLiteral(QUILLIX_SOURCE_DIR "/") + sourceName);
}

}  // namespace

AboutLink ProductLink(const QString& appDir)
{
    const QString web = QStringLiteral(QUILLIX_HOMEPAGE_URL);
    if (!web.isEmpty()) return {web, QUrl(web)};
    return {QStringLiteral("Quillix guide"),
            DocumentUrl(appDir, QStringLiteral("README.md"), QStringLiteral("README.md"))};
}

AboutLink MakerLink(const QString& appDir)
{
    const QString web = QStringLiteral(QUILLIX_MAKER_URL);
    if (!web.isEmpty()) return {web, QUrl(web)};
    return {QStringLiteral("Licence (MIT)"),
            DocumentUrl(appDir, QStringLiteral("copyright"), QStringLiteral("LICENSE"))};
}

AboutDialog::AboutDialog(const QImage& marble, QWidget* parent) : QDialog(parent), marble_(marble)
{
    setWindowTitle(QStringLiteral("About Brindle"));
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(DialogFont());

    auto* panel = new QFrame(this);
    panel->setGeometry(8, 8, 92, kClientHeight - kFooterHeight - 16);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(2);
    QPalette navy = panel->palette();
    navy.setColor(QPalette::Window, QColor(0, 0, 128));
    panel->setPalette(navy);
    panel->setAutoFillBackground(true);
    auto* icon = new QLabel(panel);
    icon->setPixmap(QPixmap::fromImage(AppIconImage(64)));
    icon->setGeometry(14, 14, 64, 64);

    QFont maker(QStringLiteral("Arial"));
    maker.setPixelSize(16);
    maker.setBold(true);
    AddText(this, QStringLiteral("Kestrel"), maker, QRect(110, 8, 196, 20));
    QFont product(QStringLiteral("Arial Black"));
    product.setPixelSize(32);
    product.setBold(true);
    AddText(this, QStringLiteral("Quillix"), product, QRect(108, 26, 200, 44));
    AddText(this, QStringLiteral("Version %1.%2").arg(QUILLIX_VERSION_MAJOR).arg(QUILLIX_VERSION_MINOR), font(),
            QRect(110, 70, 196, 16));

    const QString appDir = QCoreApplication::applicationDirPath();
    productLink_ = AddText(this, LinkHtml(ProductLink(appDir)), font(), QRect(110, 90, 196, 16));
    makerLink_ = AddText(this, LinkHtml(MakerLink(appDir)), font(), QRect(110, 108, 196, 16));
    for (QLabel* link : {productLink_, makerLink_}) {
        link->setTextFormat(Qt::RichText);
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        link->setCursor(Qt::PointingHandCursor);
        connect(link, &QLabel::linkActivated, this, [this](const QString& url) {
            emit linkOpened(QUrl(url));
            QDesktopServices::openUrl(QUrl(url));
        });
    }

    auto* logo = new QLabel(this);
    logo->setPixmap(QPixmap::fromImage(ToolsLogo(16)));
    logo->setGeometry(110, 132, 16, 16);
    auto* line = new QFrame(this);
    line->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    line->setGeometry(130, 130, 2, 36);
    auto* tools =
        AddText(this, QStringLiteral("Built with C++20, Qt 6, libgcrypt, libjpeg-turbo, libpng, giflib and libwebp"),
                font(), QRect(136, 128, 170, 40));
    tools->setWordWrap(true);
    tools->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QLabel* rights = AddText(this, QStringLiteral("\u00a9 2026 The Quillix developers. MIT licence."), font(),
                             QRect(110, 168, 196, 28));
    rights->setWordWrap(true);
    rights->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    footer_ = new QLabel(this);
    footer_->setGeometry(0, kClientHeight - kFooterHeight, kClientWidth, kFooterHeight);
    apply_ = new QPushButton(ApplyGlyph(), QStringLiteral("&Apply"), this);
    apply_->setGeometry(kClientWidth - 90, kClientHeight - 31, 82, 26);
    apply_->setFlat(true);
    apply_->setDefault(true);
    connect(apply_, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutDialog::showEvent(QShowEvent* event)
{
    footer_->setPixmap(QPixmap::fromImage(TileImage(marble_, footer_->width(), footer_->height())));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
    QDialog::showEvent(event);
}

void ShowAboutDialog(QWidget* owner, const QImage& marble)
{
    AboutDialog dialog(marble, owner);
    dialog.exec();
}

}  // namespace quillix::platform
