#include "imaging/webp_player.h"

#include "crypto/secure.h"
#include "imaging/colour_profile.h"
#include "imaging/secure_picture.h"
#include "imaging/webp_bridge.h"
#include "workers/worker_pool.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <QTimer>

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

WebPPlayer::Stream::~Stream()
{
    // The decoder reads the bytes, so it goes first; the bytes are wiped as they are freed.
    DropDecoder();
}

void WebPPlayer::Stream::DropDecoder()
{
    // libwebp frees its canvas unwiped, and it holds the last frame of what may be a container.
    if (decoder && canvas) crypto::SecureWipe(canvas, canvasSize);
    canvas = nullptr;
    canvasSize = 0;
    decoder.reset();
}

WebPPlayer::WebPPlayer(QObject* parent) : QObject(parent) {}

// A job still decoding finds no player afterwards, and a frame already posted dies with the queue.
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

void WebPPlayer::Stop()
{
    StopTimer();
    playing_ = false;
    paused_ = false;
    // A decode handed out keeps the stream alive until it ends; its frame is then discarded.
    ++generation_;
    inFlight_ = waiting_ = false;
    ready_.reset();
    stream_.reset();
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
    waiting_ = false;
    if (paused_)
        timer_->stop();
    else
        timer_->start();
}

bool WebPPlayer::LoadAnimated(const std::string& path)
{
    return LoadAnimatedFile(path);
}

bool WebPPlayer::LoadAnimated(std::span<const std::uint8_t> bytes, bool fromContainer)
{
    Stop();
    stream_ = std::make_shared<Stream>();
    stream_->source = Source::Memory;
    stream_->fromContainer = fromContainer;
    stream_->bytes.assign(bytes.begin(), bytes.end());
    return StartPlaying();
}

bool WebPPlayer::LoadAnimatedFile(const std::string& path)
{
    Stop();
    stream_ = std::make_shared<Stream>();
    stream_->source = Source::File;
    stream_->fileName = path;
    return StartPlaying();
}

WebPPlayer::Step WebPPlayer::OpenPass(Stream& stream, bool reread)
{
    Step failed;
    failed.kind = Step::PassFailed;
    stream.DropDecoder();
    // From a file, each pass reads the file as it is now; from memory, the kept bytes serve again.
    if (stream.source == Source::File && (reread || stream.bytes.empty())) {
        stream.bytes.clear();
        Result<std::vector<std::uint8_t>> bytes = ReadImageFile(stream.fileName);
        if (!bytes) return failed;
        stream.bytes.assign(bytes.value().begin(), bytes.value().end());
    }
    // libwebp's animation decoder also takes still files as one frame; those are not animations here.
    WebPBitstreamFeatures features{};
    WebPAnimDecoderOptions options;
    // A canvas past the pixel bound or far larger than its frames is refused before libwebp
    // allocates two of them.
    if (stream.bytes.empty() || WebPGetFeatures(stream.bytes.data(), stream.bytes.size(), &features) != VP8_STATUS_OK ||
        !features.has_animation || !CheckAnimatedWebP(stream.bytes) || !WebPAnimDecoderOptionsInit(&options))
        return failed;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{stream.bytes.data(), stream.bytes.size()};
    stream.decoder.reset(WebPAnimDecoderNew(&data, &options));
    WebPAnimDecoder* decoder = stream.decoder.get();
    WebPAnimInfo info{};
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder, &info) || !WebPAnimDecoderHasMoreFrames(decoder) ||
        !WebPAnimDecoderGetNext(decoder, &pixels, &timestamp) || !pixels)
        return failed;
    const int w = static_cast<int>(info.canvas_width), h = static_cast<int>(info.canvas_height);
    stream.canvas = pixels;
    stream.canvasSize = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
    const ContainerPixels secure(stream.fromContainer);
    Step step;
    step.picture = ImageFromRgba(pixels, w, h, w * 4);
    if (step.picture.isNull()) return failed;
    stream.colourSpace = WebPColourSpace(stream.bytes);
    step.picture.setColorSpace(stream.colourSpace);
    ShowInSrgb(step.picture);
    step.kind = Step::NewPass;
    step.timestamp = timestamp;
    step.width = w;
    step.height = h;
    step.loopCount = info.loop_count;
    return step;
}

WebPPlayer::Step WebPPlayer::Advance(Stream& stream, bool mayStartPass)
{
    WebPAnimDecoder* decoder = stream.decoder.get();
    Step step;
    if (!decoder) {
        step.kind = Step::FrameFailed;
        return step;
    }
    if (!WebPAnimDecoderHasMoreFrames(decoder)) {
        if (!mayStartPass) return step;  // Finished
        return OpenPass(stream, true);
    }
    WebPAnimInfo info{};
    std::uint8_t* pixels = nullptr;
    step.kind = Step::FrameFailed;
    if (!WebPAnimDecoderGetInfo(decoder, &info) || !WebPAnimDecoderGetNext(decoder, &pixels, &step.timestamp) ||
        !pixels)
        return step;
    step.width = static_cast<int>(info.canvas_width);
    step.height = static_cast<int>(info.canvas_height);
    stream.canvas = pixels;
    stream.canvasSize = static_cast<std::size_t>(step.width) * static_cast<std::size_t>(step.height) * 4;
    const ContainerPixels secure(stream.fromContainer);
    step.picture = ImageFromRgba(pixels, step.width, step.height, step.width * 4);
    if (step.picture.isNull()) return step;
    step.picture.setColorSpace(stream.colourSpace);
    ShowInSrgb(step.picture);
    step.kind = Step::Frame;
    return step;
}

bool WebPPlayer::MayStartPass() const
{
    return loopCount_ == 0 || passesDone_ < static_cast<std::int64_t>(loopCount_) - 1;
}

bool WebPPlayer::StartPlaying()
{
    Step first = OpenPass(*stream_, false);
    if (first.kind != Step::NewPass) {
        Stop();
        return false;
    }
    frame_ = std::move(first.picture);
    width_ = first.width;
    height_ = first.height;
    loopCount_ = first.loopCount;
    lastTimestamp_ = first.timestamp;
    passesDone_ = 0;

    // A timer that already exists keeps its interval, so the first frame of a new animation lasts
    // as long as the frame shown before it.
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(kFirstIntervalMs);
        connect(timer_, &QTimer::timeout, this, &WebPPlayer::Tick);
    }
    paused_ = false;
    playing_ = true;
    timer_->start();
    emit frameChanged();
    RequestNext();
    return true;
}

bool WebPPlayer::RequestNext()
{
    if (!pool_ || !stream_ || inFlight_ || ready_) return false;
    inFlight_ = true;
    const bool mayStartPass = MayStartPass();
    const std::uint64_t generation = generation_;
    const workers::JobId id =
        pool_->Submit(workers::JobPriority::Viewer,
                      [this, stream = stream_, toPlayer = fromWorkers_.sender(), generation, mayStartPass] {
                          Step step = Advance(*stream, mayStartPass);
                          toPlayer.Post([this, generation, step = std::move(step)]() mutable {
                              StepDecoded(generation, std::move(step));
                          });
                      });
    // A pool that was shut down takes no more jobs: the frames are decoded inline again.
    if (id == 0) inFlight_ = false;
    return inFlight_;
}

void WebPPlayer::StepDecoded(std::uint64_t generation, Step step)
{
    if (generation != generation_ || !inFlight_) return;
    inFlight_ = false;
    ready_ = std::move(step);
    if (waiting_ && playing_ && !paused_) {
        waiting_ = false;
        Tick();
    }
}

void WebPPlayer::Tick()
{
    if (!playing_ || paused_ || !stream_) {
        StopTimer();
        return;
    }
    if (!ready_ && !inFlight_ && !RequestNext()) {
        ShowStep(Advance(*stream_, MayStartPass()));
        return;
    }
    if (!ready_) {
        // Shown the moment it arrives; until then the current frame stays.
        waiting_ = true;
        StopTimer();
        return;
    }
    Step step = std::move(*ready_);
    ready_.reset();
    ShowStep(std::move(step));
}

void WebPPlayer::ShowStep(Step step)
{
    switch (step.kind) {
    case Step::Finished:
    case Step::FrameFailed: StopTimer(); return;
    case Step::PassFailed: Stop(); return;
    case Step::NewPass:
        // The first frame of a new pass lasts as long as the frame before it.
        ++passesDone_;
        width_ = step.width;
        height_ = step.height;
        loopCount_ = step.loopCount;
        lastTimestamp_ = step.timestamp;
        frame_ = std::move(step.picture);
        timer_->start();
        break;
    case Step::Frame: {
        const int duration = std::max(step.timestamp - lastTimestamp_, kShortestFrameMs);
        lastTimestamp_ = step.timestamp;
        frame_ = std::move(step.picture);
        timer_->start(static_cast<int>(std::min(duration / speed_, static_cast<double>(INT_MAX))));
        break;
    }
    }
    emit frameChanged();
    RequestNext();
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

bool WebPPlayer::LoadFromBytes(std::span<const std::uint8_t> bytes, bool fromContainer)
{
    return LoadStillOrAnimated(
        IsAnimatedBytes(bytes), [&] { return LoadAnimated(bytes, fromContainer); },
        [&] {
            const ContainerPixels secure(fromContainer);
            return LoadWebPToBitmap(bytes);
        });
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
    ShowInSrgb(picture.value());
    ShowStill(std::move(picture.value()));
    return true;
}

}  // namespace quillix::imaging
