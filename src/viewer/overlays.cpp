#include "viewer/overlays.h"

#include <algorithm>

namespace quillix::viewer {

bool NoticeVisible(const Overlay& notice, std::uint64_t now)
{
    return !notice.text.empty() && (notice.deadline == 0 || now < notice.deadline);
}

bool ZoomStatusVisible(const Overlay& status, std::uint64_t now)
{
    return !status.text.empty() && now < status.deadline;
}

bool OverlayTimerDone(const Overlay& notice, const Overlay& status, std::uint64_t now)
{
    return now >= notice.deadline && now >= status.deadline;
}

std::string ZoomStatusText(const std::string& fileName, double zoom)
{
    return fileName + " - " + std::to_string(ZoomPercent(zoom)) + "%";
}

Rect NoticeRect(Size client)
{
    return {40, client.height / 2 - 120, client.width - 40, client.height / 2 + 120};
}

Rect PadlockRect(Size client)
{
    const int edge = std::max(48, std::min(client.width, client.height) / 8);
    const int left = (client.width - edge) / 2;
    const int bottom = client.height / 2 - 30;
    return {left, bottom - edge, left + edge, bottom};
}

Point ZoomStatusOrigin(Size client, Size text)
{
    return {(client.width - text.width) / 2, client.height - text.height - 10};
}

}  // namespace quillix::viewer
