#include "gallery/delete_dialog.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace quillix::gallery {
namespace {

constexpr int kWidth = 380;
constexpr int kHeight = 160;
constexpr int kQuestionTop = 16;
constexpr int kQuestionHeight = 60;
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 25;

std::string Printable(const std::string& name)
{
    std::string shown;
    shown.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            shown += "\xEF\xBF\xBD";
        else
            shown += c;
    }
    return shown;
}

}  // namespace

std::vector<std::string> DeleteQuestionLines(const std::vector<std::string>& names, std::int64_t bytes)
{
    char question[64];
    std::snprintf(question, sizeof question, "Really delete %d file(s)?", static_cast<int>(names.size()));
    std::vector<std::string> lines{question};
    const std::size_t shown = std::min(names.size(), static_cast<std::size_t>(kDeleteNamesShown));
    for (std::size_t i = 0; i < shown; ++i)
        lines.push_back(Printable(names[i]));
    if (names.size() > shown) lines.push_back("and " + std::to_string(names.size() - shown) + " more");
    char total[64];
    std::snprintf(total, sizeof total, "Total size: %.2f MB", static_cast<double>(bytes) / 1048576.0);
    lines.emplace_back(total);
    return lines;
}

DeleteFilesDialog::DeleteFilesDialog(const std::vector<std::string>& names, std::int64_t bytes, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Delete files"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    const int questionWidth = kWidth - 2 * (kWidth / 10);
    auto* question = new QLabel(this);
    // A file name is never read as markup.
    question->setTextFormat(Qt::PlainText);
    question->setWordWrap(true);
    question->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    const QFontMetrics metrics(question->font());
    QStringList lines;
    for (const std::string& line : DeleteQuestionLines(names, bytes))
        lines << metrics.elidedText(QString::fromStdString(line), Qt::ElideMiddle, questionWidth);
    question->setText(lines.join(QLatin1Char('\n')));
    const int questionHeight = std::max(kQuestionHeight, static_cast<int>(lines.size()) * metrics.lineSpacing());
    question->setGeometry(kWidth / 10, kQuestionTop, questionWidth, questionHeight);
    const int height = kHeight + questionHeight - kQuestionHeight;
    setFixedSize(kWidth, height);

    const int base = (kWidth - 346) / 2;
    const int top = height - 41;
    const auto button = [&](const char* text, int left, DeleteMode mode) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setGeometry(left, top, kButtonWidth, kButtonHeight);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, mode] { done(static_cast<int>(mode)); });
        return b;
    };
    QPushButton* secure = button("Secure overwrite", base + 236, DeleteMode::Secure);
    QPushButton* normal = button("Normal delete", base + 118, DeleteMode::Normal);
    QPushButton* cancel = button("Cancel", base, DeleteMode::Cancel);
    secure->setDefault(true);
    setTabOrder(secure, normal);
    setTabOrder(normal, cancel);
    secure->setFocus();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(kWidth / 2, height / 2));
}

DeleteMode ChooseDeleteMode(const std::vector<std::string>& names, std::int64_t bytes, QWidget* parent)
{
    DeleteFilesDialog dialog(names, bytes, parent);
    switch (dialog.exec()) {
    case static_cast<int>(DeleteMode::Normal): return DeleteMode::Normal;
    case static_cast<int>(DeleteMode::Secure): return DeleteMode::Secure;
    default: return DeleteMode::Cancel;
    }
}

}  // namespace quillix::gallery
