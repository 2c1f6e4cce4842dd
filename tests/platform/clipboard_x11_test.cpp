// The clipboard between two programs on a real X server: Quillix writes and xclip reads what a
// file manager would, and xclip writes what a file manager offers and Quillix reads it. The
// program starts its own Xvfb; without Xvfb or xclip it reports itself skipped (exit 77).
//
// Every xclip is waited for with a deadline while the event loop turns: the clipboard's owner
// has to answer the reader's requests, and a reader whose owner went away would wait for ever.
#include "platform/clipboard.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>
#include <QtTest>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using quillix::platform::ClipboardFiles;
using quillix::platform::PutFilesOnClipboard;
using quillix::platform::ReadFilesFromClipboard;

namespace {

constexpr int kSkipped = 77;
// Generous: only a fault, never a slow machine, should reach it.
constexpr int kDeadlineMs = 20000;

const std::vector<std::string> kPaths = {"/home/u/My Pictures/a b.jpg", "/home/u/\xc3\xbc.png"};
const QByteArray kUris[] = {"file:///home/u/My%20Pictures/a%20b.jpg", "file:///home/u/%C3%BC.png"};

// What xclip printed when it read the clipboard as `target`; nothing when it failed or did not
// finish in time (then it is killed).
std::optional<QByteArray> XclipRead(const QString& target)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard", "-t", target});
    if (!xclip.waitForStarted(kDeadlineMs)) return std::nullopt;
    const bool finished = QTest::qWaitFor([&xclip] { return xclip.state() == QProcess::NotRunning; }, kDeadlineMs);
    if (!finished) {
        xclip.kill();
        xclip.waitForFinished(kDeadlineMs);
        return std::nullopt;
    }
    if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) return std::nullopt;
    return xclip.readAllStandardOutput();
}

// xclip owning the clipboard with `bytes` as `target`, in the foreground so that it can be ended.
class XclipOwner {
public:
    XclipOwner(const QString& target, const QByteArray& bytes)
    {
        process_.start(QStringLiteral("xclip"), {"-quiet", "-i", "-selection", "clipboard", "-t", target});
        process_.waitForStarted(kDeadlineMs);
        process_.write(bytes);
        process_.closeWriteChannel();
    }
    ~XclipOwner()
    {
        process_.kill();
        process_.waitForFinished(kDeadlineMs);
    }

private:
    QProcess process_;
};

// Waits, turning the event loop, until the clipboard lists files other than `before`.
ClipboardFiles WaitForFilesOtherThan(const std::vector<std::string>& before)
{
    ClipboardFiles files;
    (void)QTest::qWaitFor(
        [&] {
            files = ReadFilesFromClipboard();
            return !files.paths.empty() && files.paths != before;
        },
        kDeadlineMs);
    return files;
}

// Notes the X server's word that a property of `window` changed; such an event carries the
// server's time, which Qt takes as its own.
class PropertyChangeSeen : public QAbstractNativeEventFilter {
public:
    explicit PropertyChangeSeen(xcb_window_t window) : window_(window) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t*>(event)->window == window_)
            seen = true;
        return false;
    }

    bool seen = false;

private:
    xcb_window_t window_;
};

// X refuses a clipboard owner whose claim is stamped earlier than the last change of owner, and
// Qt stamps its claim with the time of the last event it saw. A person's key press or click
// brings a fresh time; here the title of a window of ours changing does, once its event has
// come in, so that a claim made after xclip owned the clipboard is not refused.
bool PutFilesWithFreshTime(const std::vector<std::string>& paths, bool cut)
{
    static int titles = 0;
    QWidget stamp;
    stamp.show();
    if (!QTest::qWaitForWindowExposed(&stamp)) return false;
    PropertyChangeSeen change(static_cast<xcb_window_t>(stamp.winId()));
    qApp->installNativeEventFilter(&change);
    stamp.setWindowTitle(QString::number(++titles));
    const bool fresh = QTest::qWaitFor([&change] { return change.seen; }, kDeadlineMs);
    qApp->removeNativeEventFilter(&change);
    if (!fresh) {
        qWarning("the title change of a window of ours never came back from the X server");
        return false;
    }
    return PutFilesOnClipboard(paths, cut);
}

}  // namespace

class ClipboardX11Test : public QObject {
    Q_OBJECT

private slots:
    void xclipReadsWhatQuillixWrote_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::newRow("copy") << false;
        QTest::newRow("cut") << true;
    }

    void xclipReadsWhatQuillixWrote()
    {
        QFETCH(bool, cut);
        QVERIFY(PutFilesWithFreshTime(kPaths, cut));

        const std::optional<QByteArray> targets = XclipRead(QStringLiteral("TARGETS"));
        QVERIFY(targets);
        QVERIFY(targets->contains("text/uri-list"));
        QVERIFY(targets->contains("x-special/gnome-copied-files"));
        QCOMPARE(targets->contains("application/x-kde-cutselection"), cut);

        const std::optional<QByteArray> uris = XclipRead(QStringLiteral("text/uri-list"));
        QVERIFY(uris);
        QCOMPARE(*uris, kUris[0] + "\r\n" + kUris[1] + "\r\n");
        const std::optional<QByteArray> gnome = XclipRead(QStringLiteral("x-special/gnome-copied-files"));
        QVERIFY(gnome);
        QCOMPARE(*gnome, QByteArray(cut ? "cut" : "copy") + "\n" + kUris[0] + "\n" + kUris[1]);
        if (cut) {
            const std::optional<QByteArray> kde = XclipRead(QStringLiteral("application/x-kde-cutselection"));
            QVERIFY(kde);
            QCOMPARE(*kde, QByteArray("1"));
        }
    }

    void quillixReadsWhatAFileManagerOffers_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("uri list") << QStringLiteral("text/uri-list") << kUris[0] + "\r\n" + kUris[1] + "\r\n";
        QTest::newRow("gnome list") << QStringLiteral("x-special/gnome-copied-files")
                                    << QByteArray("cut\n") + kUris[0] + "\n" + kUris[1];
        QTest::newRow("nautilus text") << QStringLiteral("UTF8_STRING")
                                       << QByteArray("x-special/nautilus-clipboard\ncopy\n") + kUris[0] + "\n" +
                                              kUris[1] + "\n";
    }

    void quillixReadsWhatAFileManagerOffers()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, bytes);
        QVERIFY(PutFilesWithFreshTime({"/before.jpg"}, false));
        const XclipOwner owner(target, bytes);
        const ClipboardFiles files = WaitForFilesOtherThan({"/before.jpg"});
        QCOMPARE(files.paths, kPaths);
        // A cut in another program is pasted as a copy: only our own mark makes a move.
        QVERIFY(!files.cut);
    }

    void anOwnerThatIsGoneLeavesNoFiles()
    {
        {
            const XclipOwner owner(QStringLiteral("text/uri-list"), kUris[0] + "\r\n");
            QCOMPARE(WaitForFilesOtherThan({}).paths, std::vector<std::string>{kPaths[0]});
        }
        // Reading a clipboard whose owner ended comes back empty, and in time.
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(QTest::qWaitFor([] { return ReadFilesFromClipboard().paths.empty(); }, kDeadlineMs));
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(2 * kDeadlineMs));
    }
};

namespace {

// Xvfb on a display number it picks itself; the number, or nothing when it cannot start.
std::optional<int> StartXvfb(pid_t& pid)
{
    int displayPipe[2];
    if (::pipe(displayPipe) != 0) return std::nullopt;
    pid = ::fork();
    if (pid == 0) {
        ::close(displayPipe[0]);
        const std::string fd = std::to_string(displayPipe[1]);
        if (!std::freopen("/dev/null", "w", stderr)) ::_exit(126);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(displayPipe[1]);
    if (pid < 0) return std::nullopt;
    // The display number comes as a line once the server takes connections.
    std::string number;
    for (char c; ::read(displayPipe[0], &c, 1) == 1 && c != '\n';)
        number += c;
    ::close(displayPipe[0]);
    if (number.empty()) return std::nullopt;
    return std::stoi(number);
}

}  // namespace

int main(int argc, char** argv)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        std::puts("SKIP: Xvfb and xclip are needed");
        return kSkipped;
    }
    pid_t server = -1;
    const std::optional<int> display = StartXvfb(server);
    if (!display) {
        if (server > 0) ::kill(server, SIGKILL);
        std::puts("SKIP: Xvfb did not start");
        return kSkipped;
    }
    ::setenv("DISPLAY", (":" + std::to_string(*display)).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    int status = 1;
    {
        QApplication application(argc, argv);
        ClipboardX11Test test;
        status = QTest::qExec(&test, argc, argv);
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    return status;
}

#include "clipboard_x11_test.moc"
