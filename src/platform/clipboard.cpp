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
constexpr char kNautilusTextHeader[] = "x-special/nautilus-clipboard";

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
    QList<QUrl> urls = data->urls();
    if (urls.isEmpty()) {
        // GNOME's own list: "copy" or "cut", then one URL a line; older Nautilus versions put the
        // same under a first line "x-special/nautilus-clipboard" as plain text.
        QList<QByteArray> lines = data->data(kGnomeFormat).split('\n');
        if (lines.size() < 2 && data->hasText()) {
            lines = data->text().toUtf8().split('\n');
            if (lines.isEmpty() || lines.front().trimmed() != kNautilusTextHeader)
                lines.clear();
            else
                lines.removeFirst();
        }
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            if (!line.isEmpty()) urls.append(QUrl::fromEncoded(line));
        }
    }
    for (const QUrl& url : urls) {
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
