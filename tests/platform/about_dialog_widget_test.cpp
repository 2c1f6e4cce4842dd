#include "platform/about_dialog.h"
#include "platform/dialog_art.h"
#include "support/temp_dir.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <filesystem>

using quillix::platform::AboutDialog;

namespace {

QImage Marble()
{
    QImage marble(56, 48, QImage::Format_RGB32);
    for (int y = 0; y < marble.height(); ++y)
        for (int x = 0; x < marble.width(); ++x)
            marble.setPixel(x, y, qRgb(x * 4, y * 5, 90));
    return marble;
}

QLabel* LabelWithText(const QWidget& parent, const QString& text)
{
    for (QLabel* label : parent.findChildren<QLabel*>())
        if (label->text() == text) return label;
    return nullptr;
}

}  // namespace

// Catches what the about box asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

class AboutDialogWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void contents()
    {
        const QImage marble = Marble();
        AboutDialog dialog(marble);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("About Brindle"));
        QCOMPARE(dialog.size(), QSize(313, 233));

        QLabel* product = LabelWithText(dialog, "Quillix");
        QVERIFY(product);
        QCOMPARE(product->font().family(), QString("Arial Black"));
        QCOMPARE(product->font().pixelSize(), 32);
        QVERIFY(product->font().bold());
        QLabel* maker = LabelWithText(dialog, "Kestrel");
        QVERIFY(maker);
        QCOMPARE(maker->font().pixelSize(), 16);
        QVERIFY(maker->y() < product->y());
        QVERIFY(LabelWithText(dialog, "Version 1.1"));

        // The program icon on the navy panel, the marble along the bottom.
        const QImage shot = dialog.grab().toImage();
        QCOMPARE(shot.pixelColor(12, 150), QColor(0, 0, 128));
        const QImage footer = dialog.footer()->pixmap().toImage();
        QCOMPARE(footer.size(), QSize(313, 36));
        for (const QPoint p : {QPoint(0, 0), QPoint(57, 35), QPoint(312, 10)})
            QCOMPARE(footer.pixel(p), marble.pixel(p.x() % 56, p.y() % 48));
        QVERIFY(dialog.applyButton()->isDefault());
        QCOMPARE(dialog.applyButton()->text(), QString("&Apply"));
    }

    void linksOpenThroughTheDesktop()
    {
        UrlCatcher catcher;
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::setUrlHandler(scheme, &catcher, "open");
        AboutDialog dialog(Marble());
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        for (QLabel* link : {dialog.productLinkLabel(), dialog.makerLinkLabel()}) {
            QVERIFY(link->text().contains("text-decoration:underline"));
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(4, link->height() / 2));
        }
        const QString appDir = QCoreApplication::applicationDirPath();
        QCOMPARE(catcher.opened,
                 (QList<QUrl>{quillix::platform::ProductLink(appDir).url, quillix::platform::MakerLink(appDir).url}));
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void linksFindTheInstalledDocuments()
    {
        // A program installed under a prefix reads its guide and licence from that prefix.
        quillix::test::TempDir prefix;
        std::filesystem::create_directories(prefix / "bin");
        std::filesystem::create_directories(prefix / "share/doc/quillix");
        quillix::test::WriteFile(prefix / "share/doc/quillix/README.md", std::string("guide"));
        quillix::test::WriteFile(prefix / "share/doc/quillix/copyright", std::string("MIT"));
        const QString appDir = QString::fromStdString(prefix / "bin");
        const quillix::platform::AboutLink product = quillix::platform::ProductLink(appDir);
        const quillix::platform::AboutLink maker = quillix::platform::MakerLink(appDir);
        if (product.url.scheme() == "file")
            QCOMPARE(product.url.toLocalFile(), QString::fromStdString(prefix / "share/doc/quillix/README.md"));
        if (maker.url.scheme() == "file")
            QCOMPARE(maker.url.toLocalFile(), QString::fromStdString(prefix / "share/doc/quillix/copyright"));
        // The build tree falls back to the sources, where both documents are.
        for (const auto& link : {quillix::platform::ProductLink("/nowhere"), quillix::platform::MakerLink("/nowhere")})
            if (link.url.isLocalFile())
                QVERIFY2(QFileInfo::exists(link.url.toLocalFile()), qPrintable(link.url.toString()));
    }

    void escapeAndEnter()
    {
        AboutDialog dialog(Marble());
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        dialog.open();
        QTest::mouseClick(dialog.applyButton(), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }

    void applicationIcon()
    {
        // Drawn at every size, not scaled from one: corners clear, the navy tile inside.
        for (const int size : {16, 48, 256}) {
            const QImage icon = quillix::platform::AppIconImage(size);
            QCOMPARE(icon.size(), QSize(size, size));
            QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
            QVERIFY(qAlpha(icon.pixel(size / 10, size / 2)) == 255);
        }
        QImage decoded;
        QVERIFY(decoded.loadFromData(quillix::platform::AppIconPng(48), "PNG"));
        QCOMPARE(decoded.size(), QSize(48, 48));
    }
};

QTEST_MAIN(AboutDialogWidgetTest)
#include "about_dialog_widget_test.moc"
