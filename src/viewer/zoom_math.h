#pragma once

namespace quillix::viewer {

struct Size {
    int width = 0;
    int height = 0;

    bool operator==(const Size&) const = default;
};

struct Point {
    int x = 0;
    int y = 0;

    bool operator==(const Point&) const = default;
};

// The two scaling settings; FitWidth matters only while ScaleToFit is on.
struct ScalingMode {
    bool ScaleToFit = true;
    bool FitWidth = false;
};

inline constexpr double kMaxFitScale = 50.0;
inline constexpr int kMaxZoomPercent = 5000;
// Wider or taller drawn images are cut to this side so that pan arithmetic cannot overflow.
inline constexpr int kMaxDrawnSide = 1 << 28;

// The initial scale of an image of size `image` on a screen of size `screen`: 1.0 with ScaleToFit
// off or any side not above 0; else screen width / image width (FitWidth) or the smaller of the two
// ratios, at most kMaxFitScale. Small images are enlarged.
double FitScale(Size image, Size screen, ScalingMode mode);

// The wheel's step in percentage points at `percent`, growing with the distance from 100 %.
int ZoomStep(int percent);

// `zoom` as the whole percent shown in the zoom status line.
int ZoomPercent(double zoom);

// The size `source` is drawn at under `zoom`, each side rounded half up; empty for an empty source.
Size DrawnSize(Size source, double zoom);

// What the viewer window holds between paints. FitZoom is the scale of the last fit and the lower
// bound of wheel zooming; the pan is the offset from the centred position in window pixels.
struct ZoomState {
    double Zoom = 1.0;
    double FitZoom = 1.0;
    int PanX = 0;
    int PanY = 0;
};

// True while the user has not zoomed away from the fit.
bool IsAtFit(const ZoomState& state);

// Where and how large the image is drawn in the client area.
struct Placement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool Pannable = false;
};

// Keeps the pan within the overhang of the drawn image on each axis: zero where the image fits the
// client area, so that a smaller image is always centred. No source (an empty size) zeroes the pan.
void ClampPan(ZoomState& state, Size source, Size client);

// Clamps the pan and returns where the source is drawn; what a paint does before it draws.
Placement PlaceImage(ZoomState& state, Size source, Size client);

// The state after a load or a right-button reset: zoom at the fit (1.0 with ScaleToFit off or no
// source), pan centred.
void ResetToFit(ZoomState& state, Size source, Size screen, ScalingMode mode);

// A window resize: an image still at its fit is fitted again (the fit follows the screen, so it
// changes only with the screen); then the pan is clamped to the new client area.
void ResizeToWindow(ZoomState& state, Size source, Size screen, Size client, ScalingMode mode);

// A drag by (dx, dy) window pixels, clamped; nothing moves on an axis the image fits.
void PanBy(ZoomState& state, int dx, int dy, Size source, Size client);

enum class ZoomDirection { In, Out };

// The zoom one wheel step away from `zoom`: the stepped percent, never above kMaxZoomPercent and
// never below `fitZoom`, which is returned exactly when the step would go under it.
double NextWheelZoom(double zoom, double fitZoom, ZoomDirection direction);

// One wheel zoom step around the client point `cursor`: the image point under the cursor stays
// under it as far as ClampPan allows; a cursor outside the drawn image anchors the image's centre.
// Nothing happens without a source.
void WheelZoom(ZoomState& state, ZoomDirection direction, Point cursor, Size source, Size client);

}  // namespace quillix::viewer
