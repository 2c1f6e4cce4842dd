#include "imaging/webp_player.h"

#include "imaging/image_format.h"
#include "imaging/webp_bridge.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <QTimer>

#include <string.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace quillix::imaging {
namespace {

constexpr int kFirstIntervalMs = 30;
constexpr int kShortestFrameMs = 10;

}  // namespace

void WebPPlayer::DecoderDeleter::operator()(WebPAnimDecoder* decoder) const
{
    WebPAnimDecoderDelete(decoder);
}

WebPPlayer::WebPPlayer(QObject* parent) : QObject(parent) {}

WebPPlayer::~WebPPlayer()
{
    Stop();
}

void WebPPlayer::setSpeed(double speed)
{
    if (std::isfinite(speed) && speed > 0) speed_ = speed;
}

bool WebPPlayer::HasFrame() const
{
    return !frame_.isNull() && width_ > 0 && height_ > 0;
}

void WebPPlayer::StopTimer()
{
    if (timer_) timer_->stop();
}

void WebPPlayer::ReleaseBytes()
{
    // The bytes may be a decrypted picture; they do not outlive their use in the heap.
    if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
    std::vector<std::uint8_t>().swap(bytes_);
}

void WebPPlayer::Stop()
{
    StopTimer();
    playing_ = false;
    paused_ = false;
    decoder_.reset();
    ReleaseBytes();
}

void WebPPlayer::Clear()
{
    Stop();
    animated_ = false;
    frame_ = QImage();
    width_ = height_ = 0;
}

void WebPPlayer::TogglePause()
{
    if (!playing_ || !timer_) return;
    paused_ = !paused_;
    if (paused_)
        timer_->stop();
    else
        timer_->start();
}

bool WebPPlayer::LoadAnimated(const std::string& path)
{
    return LoadAnimatedFile(path, false);
}

bool WebPPlayer::LoadAnimated(std::span<const std::uint8_t> bytes)
{
    Stop();
    source_ = Source::Memory;
    fileName_.clear();
    bytes_.assign(bytes.begin(), bytes.end());
    return StartDecoder(false);
}

bool WebPPlayer::LoadAnimatedFile(const std::string& path, bool keepPasses)
{
    Stop();
    source_ = Source::File;
    fileName_ = path;
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return false;
    bytes_ = std::move(bytes.value());
    return StartDecoder(keepPasses);
}

bool WebPPlayer::StartDecoder(bool keepPasses)
{
    decoder_.reset();
    // libwebp's animation decoder also takes still files as one frame; those are not animations here.
    WebPBitstreamFeatures features{};
    WebPAnimDecoderOptions options;
    // A canvas past the decoders' pixel bound is refused before libwebp allocates two of them.
    if (bytes_.empty() || WebPGetFeatures(bytes_.data(), bytes_.size(), &features) != VP8_STATUS_OK ||
        !features.has_animation || std::int64_t{features.width} * features.height > kMaxPixels ||
        !WebPAnimDecoderOptionsInit(&options)) {
        Stop();
        return false;
    }
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{bytes_.data(), bytes_.size()};
    decoder_.reset(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info{};
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!decoder_ || !WebPAnimDecoderGetInfo(decoder_.get(), &info) || !WebPAnimDecoderHasMoreFrames(decoder_.get()) ||
        !WebPAnimDecoderGetNext(decoder_.get(), &pixels, &timestamp) || !pixels) {
        Stop();
        return false;
    }
    const int w = static_cast<int>(info.canvas_width), h = static_cast<int>(info.canvas_height);
    QImage picture = ImageFromRgba(pixels, w, h, w * 4);
    if (picture.isNull()) {
        Stop();
        return false;
    }
    frame_ = std::move(picture);
    width_ = w;
    height_ = h;
    loopCount_ = info.loop_count;
    lastTimestamp_ = timestamp;
    if (!keepPasses) passesDone_ = 0;

    // A timer that already exists keeps its interval, so a new pass's first frame lasts as long as
    // the frame shown before it.
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(kFirstIntervalMs);
        connect(timer_, &QTimer::timeout, this, &WebPPlayer::Tick);
    }
    paused_ = false;
    playing_ = true;
    timer_->start();
    emit frameChanged();
    return true;
}

void WebPPlayer::Tick()
{
    if (!playing_ || paused_ || !decoder_) {
        StopTimer();
        return;
    }
    if (!WebPAnimDecoderHasMoreFrames(decoder_.get())) {
        if (loopCount_ != 0 && passesDone_ >= static_cast<std::int64_t>(loopCount_) - 1) {
            StopTimer();
            return;
        }
        ++passesDone_;
        if (source_ == Source::Memory)
            StartDecoder(true);
        else if (!fileName_.empty())
            LoadAnimatedFile(fileName_, true);
        else
            StopTimer();
        return;
    }
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder_.get(), &pixels, &timestamp) || !pixels) {
        StopTimer();
        return;
    }
    const int duration = std::max(timestamp - lastTimestamp_, kShortestFrameMs);
    lastTimestamp_ = timestamp;
    QImage picture = ImageFromRgba(pixels, width_, height_, width_ * 4);
    if (picture.isNull()) {
        StopTimer();
        return;
    }
    frame_ = std::move(picture);
    emit frameChanged();
    timer_->setInterval(static_cast<int>(std::min(duration / speed_, static_cast<double>(INT_MAX))));
}

void WebPPlayer::ShowStill(QImage picture)
{
    Stop();
    frame_ = std::move(picture);
    width_ = frame_.width();
    height_ = frame_.height();
    playing_ = paused_ = animated_ = false;
    emit frameChanged();
}

bool WebPPlayer::LoadFromFile(const std::string& path)
{
    return LoadStillOrAnimated(
        IsAnimatedFile(path), [&] { return LoadAnimated(path); }, [&] { return LoadWebPToBitmap(path); });
}

bool WebPPlayer::LoadFromBytes(std::span<const std::uint8_t> bytes)
{
    return LoadStillOrAnimated(
        IsAnimatedBytes(bytes), [&] { return LoadAnimated(bytes); }, [&] { return LoadWebPToBitmap(bytes); });
}

bool WebPPlayer::LoadStillOrAnimated(bool looksAnimated, const std::function<bool()>& animate,
                                     const std::function<Result<QImage>()>& still)
{
    animated_ = false;
    if (looksAnimated) {
        Stop();
        if (animate()) {
            animated_ = true;
            return true;
        }
    }
    Result<QImage> picture = still();
    if (!picture) {
        Stop();
        return false;
    }
    ShowStill(std::move(picture.value()));
    return true;
}

}  // namespace quillix::imaging
