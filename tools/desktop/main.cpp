// quillix-desktop-files FOLDER: writes the desktop entry and the icon theme files the package
// installs, from the same code the program registers itself with.
#include "platform/dialog_art.h"
#include "settings/desktop_registration.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

bool Write(const std::filesystem::path& path, const std::string& bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    std::cerr << "quillix-desktop-files: cannot write " << path << "\n";
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "Usage: quillix-desktop-files FOLDER\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    // Installed in the system's PATH, the entry names the program without a folder.
    bool ok = Write(folder / quillix::settings::kDesktopId, quillix::settings::DesktopEntryText("quillix"));
    for (const int size : quillix::settings::IconSizes()) {
        const std::string edge = std::to_string(size);
        ok &= Write(folder / "icons/hicolor" / (edge + "x" + edge) / "apps/quillix.png",
                    quillix::platform::AppIconPng(size).toStdString());
    }
    return ok ? 0 : 1;
}
