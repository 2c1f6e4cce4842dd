#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QList>
#include <QMimeData>
#include <QUrl>

namespace quillix::platform {
namespace {

constexpr char kGnomeFormat[] = "x-special/gnome-copied-files";
constexpr char kKdeCutFormat[] = "application/x-kde-cutselection";
constexpr char kOwnCutFormat[] = "application/x-quillix-cut";

}  // namespace

QMimeData* FileListMimeData(const std::vector<std::string>& paths, bool cut)
{
    QList<QUrl> urls;
    QByteArray gnome = cut ? "cut" : "copy";
    for (const std::string& path : paths) {
        urls.append(QUrl::fromLocalFile(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()))));
        gnome.append('\n').append(urls.back().toEncoded());
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    data->setData(kGnomeFormat, gnome);
    if (cut) {
        data->setData(kKdeCutFormat, "1");
        data->setData(kOwnCutFormat, QByteArray(1, '\1'));
    }
    return data;
}

bool PutFilesOnClipboard(const std::vector<std::string>& paths, bool cut)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    clipboard->setMimeData(FileListMimeData(paths, cut));
    const QMimeData* offered = clipboard->mimeData();
    return offered && offered->hasUrls();
}

ClipboardFiles FilesFromMimeData(const QMimeData* data)
{
    ClipboardFiles files;
    if (!data) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QByteArray path = url.toLocalFile().toUtf8();
        files.paths.emplace_back(path.constData(), static_cast<std::size_t>(path.size()));
    }
    files.cut = data->data(kOwnCutFormat) == QByteArray(1, '\1');
    return files;
}

ClipboardFiles ReadFilesFromClipboard()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? FilesFromMimeData(clipboard->mimeData()) : ClipboardFiles{};
}

std::string CopyStatusText(int count, bool ok)
{
    return ok ? "Copied " + std::to_string(count) + " files" : "Copy failed";
}

}  // namespace quillix::platform
