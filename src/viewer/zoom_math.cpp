#include "viewer/zoom_math.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace quillix::viewer {
namespace {

struct StepBand {
    int maxDistance;
    int step;
};

constexpr std::array<StepBand, 11> kStepBands{{
    {10, 5},
    {30, 10},
    {60, 20},
    {100, 30},
    {150, 50},
    {220, 70},
    {300, 90},
    {420, 120},
    {600, 160},
    {900, 200},
    {1200, 300},
}};
constexpr int kStepBeyondBands = 400;

bool IsEmpty(Size s)
{
    return s.width <= 0 || s.height <= 0;
}

int DrawnSide(int side, double zoom)
{
    const double d = std::floor(side * zoom + 0.5);
    if (!(d > 0)) return 0;
    return d >= kMaxDrawnSide ? kMaxDrawnSide : static_cast<int>(d);
}

// The image's offset on one axis when centred; the halving truncates toward zero.
int CentredOffset(int client, int drawn)
{
    return (client - drawn) / 2;
}

// The pan on one axis that keeps the drawn image over the whole client side it overhangs. With an
// odd overhang the range is one pixel longer on the negative side, so the last column or row can
// be reached too.
int ClampAxis(int pan, int client, int drawn)
{
    if (client >= drawn) return 0;
    const int base = CentredOffset(client, drawn);
    const std::int64_t low = static_cast<std::int64_t>(client) - drawn - base;
    const std::int64_t high = -static_cast<std::int64_t>(base);
    return static_cast<int>(std::clamp<std::int64_t>(pan, low, high));
}

int Saturate(std::int64_t v)
{
    return static_cast<int>(std::clamp<std::int64_t>(v, -kMaxDrawnSide, kMaxDrawnSide));
}

}  // namespace

double FitScale(Size image, Size screen, ScalingMode mode)
{
    if (!mode.ScaleToFit) return 1.0;
    if (IsEmpty(image) || IsEmpty(screen)) return 1.0;
    const double sx = static_cast<double>(screen.width) / image.width;
    const double s = mode.FitWidth ? sx : std::min(sx, static_cast<double>(screen.height) / image.height);
    if (!(s > 0)) return 1.0;
    return std::min(s, kMaxFitScale);
}

int ZoomStep(int percent)
{
    const std::int64_t distance = std::llabs(static_cast<std::int64_t>(percent) - 100);
    for (const StepBand& band : kStepBands) {
        if (distance <= band.maxDistance) return band.step;
    }
    return kStepBeyondBands;
}

int ZoomPercent(double zoom)
{
    const double p = std::floor(zoom * 100 + 0.5);
    if (!(p > 0)) return 0;
    return p >= kMaxDrawnSide ? kMaxDrawnSide : static_cast<int>(p);
}

Size DrawnSize(Size source, double zoom)
{
    if (IsEmpty(source)) return {};
    return {DrawnSide(source.width, zoom), DrawnSide(source.height, zoom)};
}

bool IsAtFit(const ZoomState& state)
{
    return std::abs(state.Zoom - state.FitZoom) < 1e-9;
}

void ClampPan(ZoomState& state, Size source, Size client)
{
    if (IsEmpty(source)) {
        state.PanX = state.PanY = 0;
        return;
    }
    const Size drawn = DrawnSize(source, state.Zoom);
    state.PanX = ClampAxis(state.PanX, client.width, drawn.width);
    state.PanY = ClampAxis(state.PanY, client.height, drawn.height);
}

Placement PlaceImage(ZoomState& state, Size source, Size client)
{
    ClampPan(state, source, client);
    const Size drawn = DrawnSize(source, state.Zoom);
    Placement p;
    p.width = drawn.width;
    p.height = drawn.height;
    p.Pannable = client.width < drawn.width || client.height < drawn.height;
    p.left = CentredOffset(client.width, drawn.width) + state.PanX;
    p.top = CentredOffset(client.height, drawn.height) + state.PanY;
    return p;
}

void ResetToFit(ZoomState& state, Size source, Size screen, ScalingMode mode)
{
    state.FitZoom = FitScale(source, screen, mode);
    state.Zoom = state.FitZoom;
    state.PanX = state.PanY = 0;
}

void ResizeToWindow(ZoomState& state, Size source, Size screen, Size client, ScalingMode mode)
{
    if (mode.ScaleToFit && IsAtFit(state) && !IsEmpty(source)) {
        state.FitZoom = FitScale(source, screen, mode);
        state.Zoom = state.FitZoom;
    }
    ClampPan(state, source, client);
}

void PanBy(ZoomState& state, int dx, int dy, Size source, Size client)
{
    state.PanX = Saturate(static_cast<std::int64_t>(state.PanX) + dx);
    state.PanY = Saturate(static_cast<std::int64_t>(state.PanY) + dy);
    ClampPan(state, source, client);
}

double NextWheelZoom(double zoom, double fitZoom, ZoomDirection direction)
{
    const int p = ZoomPercent(zoom);
    const int step = ZoomStep(p);
    const int next = std::min(direction == ZoomDirection::In ? p + step : p - step, kMaxZoomPercent);
    const double z = next * 0.01;
    // Rounding the fit up to a whole percent would let a step out from the fit enlarge the image
    // and leave it just off the fit, so the fit itself is the bound.
    return z < fitZoom ? fitZoom : z;
}

void WheelZoom(ZoomState& state, ZoomDirection direction, Point cursor, Size source, Size client)
{
    if (IsEmpty(source)) return;
    const Placement before = PlaceImage(state, source, client);
    double fx = 0.5;
    double fy = 0.5;
    if (before.width > 0 && before.height > 0 && before.left <= cursor.x && cursor.x <= before.left + before.width &&
        before.top <= cursor.y && cursor.y <= before.top + before.height) {
        fx = static_cast<double>(cursor.x - before.left) / before.width;
        fy = static_cast<double>(cursor.y - before.top) / before.height;
    }
    state.Zoom = NextWheelZoom(state.Zoom, state.FitZoom, direction);
    const Size drawn = DrawnSize(source, state.Zoom);
    const std::int64_t cx = CentredOffset(client.width, drawn.width);
    const std::int64_t cy = CentredOffset(client.height, drawn.height);
    state.PanX = Saturate(cursor.x - cx - static_cast<std::int64_t>(std::floor(drawn.width * fx + 0.5)));
    state.PanY = Saturate(cursor.y - cy - static_cast<std::int64_t>(std::floor(drawn.height * fy + 0.5)));
    ClampPan(state, source, client);
}

}  // namespace quillix::viewer
