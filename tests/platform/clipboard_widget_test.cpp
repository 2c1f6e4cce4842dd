#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

using quillix::platform::ClipboardFiles;
using quillix::platform::CopyStatusText;
using quillix::platform::FileListMimeData;
using quillix::platform::FilesFromMimeData;
using quillix::platform::PutFilesOnClipboard;
using quillix::platform::ReadFilesFromClipboard;

namespace {

// A space, non-ASCII UTF-8 and a "%" each need their own escaping in a URL.
const std::vector<std::string> kPaths = {"/home/u/My Pictures/a b.jpg", "/home/u/\xc3\xbc\xe5\x86\x99.png",
                                         "/home/u/100%.gif"};
const QByteArray kEncoded[] = {"file:///home/u/My%20Pictures/a%20b.jpg", "file:///home/u/%C3%BC%E5%86%99.png",
                               "file:///home/u/100%25.gif"};

}  // namespace

class ClipboardWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void formatsCarryTheExactBytes_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::newRow("copy") << false;
        QTest::newRow("cut") << true;
    }

    void formatsCarryTheExactBytes()
    {
        QFETCH(bool, cut);
        const std::unique_ptr<QMimeData> data(FileListMimeData(kPaths, cut));

        QCOMPARE(data->data("text/uri-list"), kEncoded[0] + "\r\n" + kEncoded[1] + "\r\n" + kEncoded[2] + "\r\n");
        QCOMPARE(data->data("x-special/gnome-copied-files"),
                 QByteArray(cut ? "cut" : "copy") + "\n" + kEncoded[0] + "\n" + kEncoded[1] + "\n" + kEncoded[2]);
        QCOMPARE(data->hasFormat("application/x-kde-cutselection"), cut);
        QCOMPARE(data->hasFormat("application/x-quillix-cut"), cut);
        if (cut) {
            QCOMPARE(data->data("application/x-kde-cutselection"), QByteArray("1"));
            QCOMPARE(data->data("application/x-quillix-cut"), QByteArray(1, '\1'));
        }

        const ClipboardFiles back = FilesFromMimeData(data.get());
        QCOMPARE(back.paths, kPaths);
        QCOMPARE(back.cut, cut);
    }

    void roundTripThroughTheClipboard()
    {
        // The offscreen platform keeps an in-process clipboard, so this goes through QClipboard.
        QVERIFY(PutFilesOnClipboard(kPaths, true));
        ClipboardFiles back = ReadFilesFromClipboard();
        QCOMPARE(back.paths, kPaths);
        QVERIFY(back.cut);

        QVERIFY(PutFilesOnClipboard({kPaths[1]}, false));
        back = ReadFilesFromClipboard();
        QCOMPARE(back.paths, std::vector<std::string>{kPaths[1]});
        QVERIFY(!back.cut);

        QGuiApplication::clipboard()->setText("just text");
        back = ReadFilesFromClipboard();
        QVERIFY(back.paths.empty());
        QVERIFY(!back.cut);
    }

    void onlyOurOwnMarkMakesACut_data()
    {
        QTest::addColumn<QByteArray>("gnome");
        QTest::addColumn<QByteArray>("kde");
        QTest::addColumn<QByteArray>("own");
        QTest::addColumn<bool>("cut");
        QTest::newRow("foreign gnome cut") << QByteArray("cut\nfile:///a.jpg") << QByteArray() << QByteArray() << false;
        QTest::newRow("foreign kde cut") << QByteArray() << QByteArray("1") << QByteArray() << false;
        QTest::newRow("own mark 0") << QByteArray() << QByteArray() << QByteArray(1, '\0') << false;
        QTest::newRow("own mark as text") << QByteArray() << QByteArray() << QByteArray("1") << false;
        QTest::newRow("own mark 1") << QByteArray() << QByteArray() << QByteArray(1, '\1') << true;
    }

    void onlyOurOwnMarkMakesACut()
    {
        QFETCH(QByteArray, gnome);
        QFETCH(QByteArray, kde);
        QFETCH(QByteArray, own);
        QFETCH(bool, cut);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/a.jpg")});
        if (!gnome.isEmpty()) data.setData("x-special/gnome-copied-files", gnome);
        if (!kde.isEmpty()) data.setData("application/x-kde-cutselection", kde);
        if (!own.isEmpty()) data.setData("application/x-quillix-cut", own);

        const ClipboardFiles files = FilesFromMimeData(&data);
        QCOMPARE(files.paths, std::vector<std::string>{"/a.jpg"});
        QCOMPARE(files.cut, cut);
    }

    void otherUrlsAreSkipped()
    {
        QMimeData data;
        data.setUrls({QUrl("https://example.com/x.jpg"), QUrl::fromLocalFile("/b.png"), QUrl("smb://host/c.jpg"),
                      QUrl::fromLocalFile("/d e.gif")});
        QCOMPARE(FilesFromMimeData(&data).paths, (std::vector<std::string>{"/b.png", "/d e.gif"}));
        QVERIFY(FilesFromMimeData(nullptr).paths.empty());
    }

    void withoutAUrlListTheGnomeThenTheNautilusFormIsRead_data()
    {
        QTest::addColumn<QByteArray>("gnome");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("paths");
        const QStringList both{"/a b.jpg", "/c.png"};
        QTest::newRow("gnome copy") << QByteArray("copy\nfile:///a%20b.jpg\nfile:///c.png") << QString() << both;
        QTest::newRow("gnome cut, line end")
            << QByteArray("cut\nfile:///a%20b.jpg\r\nfile:///c.png\n") << QString() << both;
        QTest::newRow("nautilus text") << QByteArray()
                                       << QString(
                                              "x-special/nautilus-clipboard\ncopy\nfile:///a%20b.jpg\nfile:///c.png\n")
                                       << both;
        QTest::newRow("gnome before text")
            << QByteArray("copy\nfile:///c.png") << QString("x-special/nautilus-clipboard\ncut\nfile:///a%20b.jpg")
            << QStringList{"/c.png"};
        QTest::newRow("plain text") << QByteArray() << QString("copy\nfile:///a.jpg") << QStringList{};
        QTest::newRow("gnome without files") << QByteArray("copy") << QString() << QStringList{};
    }

    void withoutAUrlListTheGnomeThenTheNautilusFormIsRead()
    {
        QFETCH(QByteArray, gnome);
        QFETCH(QString, text);
        QFETCH(QStringList, paths);
        QMimeData data;
        if (!gnome.isEmpty()) data.setData("x-special/gnome-copied-files", gnome);
        if (!text.isEmpty()) data.setText(text);
        std::vector<std::string> expected;
        for (const QString& path : paths)
            expected.push_back(path.toStdString());
        const ClipboardFiles files = FilesFromMimeData(&data);
        QCOMPARE(files.paths, expected);
        QVERIFY(!files.cut);
    }

    void statusText()
    {
        QCOMPARE(CopyStatusText(1, true), std::string("Copied 1 files"));
        QCOMPARE(CopyStatusText(12, true), std::string("Copied 12 files"));
        QCOMPARE(CopyStatusText(3, false), std::string("Copy failed"));
    }
};

QTEST_MAIN(ClipboardWidgetTest)
#include "clipboard_widget_test.moc"
