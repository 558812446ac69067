// The installed tree and the Debian package as a desktop and Debian's tools
// see them: the desktop entry, metainfo and manual page pass their
// validators, the icons have their sizes, the package passes lintian.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace
{

using testing_support::ProcessResult;
using testing_support::read_file;
using testing_support::run_process;
using testing_support::TempDir;

#define REQUIRE_TOOL(path, package)                                                                          \
    do {                                                                                                     \
        if (access(path, X_OK) != 0)                                                                         \
            GTEST_SKIP() << path << " is missing: install " << package << " (scripts/setup.sh lists it)";    \
    } while (0)

const std::string app_id = "io.github.quillpeek.Quillpeek";

// The value of a key of the desktop entry.
std::string entry_value(const std::string &entry, const std::string &key)
{
    std::stringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return "";
}

std::set<std::string> split(const std::string &text, char separator)
{
    std::set<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, separator);)
        if (!item.empty() && item[0] != '#')
            items.insert(item);
    return items;
}

class Installed : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ProcessResult installed = testing_support::install_into(dest_.path());
        ASSERT_EQ(installed.exit_code, 0) << installed.err;
    }
    std::string path(const std::string &name) const { return dest_.path() + "/usr/" + name; }

  private:
    TempDir dest_;
};

TEST_F(Installed, TheTreeHoldsWhatADesktopLooksFor)
{
    EXPECT_EQ(access(path("bin/quillpeek").c_str(), X_OK), 0);
    for (const char *size : {"16", "22", "24", "32", "48", "64", "128", "256"}) {
        std::string png = read_file(path("share/icons/hicolor/") + size + "x" + size + "/apps/quillpeek.png");
        ASSERT_GE(png.size(), 24u) << size;
        // IHDR: width and height as big-endian words at 16 and 20.
        auto word = [&](size_t at) { return uint8_t(png[at + 2]) << 8 | uint8_t(png[at + 3]); };
        EXPECT_EQ(word(16), std::stoi(size)) << "width of the " << size << " icon";
        EXPECT_EQ(word(20), std::stoi(size)) << "height of the " << size << " icon";
    }
    for (const std::string &name : std::vector<std::string>{
             "share/icons/hicolor/scalable/apps/quillpeek.svg", "share/man/man1/quillpeek.1.gz",
             "share/doc/quillpeek/copyright", "share/doc/quillpeek/changelog.gz",
             "share/metainfo/" + app_id + ".metainfo.xml"})
        EXPECT_TRUE(std::filesystem::is_regular_file(path(name))) << name;
    std::string copyright = read_file(path("share/doc/quillpeek/copyright"));
    EXPECT_NE(copyright.find("\nLicense: MIT\n"), std::string::npos)
        << "the copyright file names the licence";

    std::string entry = read_file(path("share/applications/" + app_id + ".desktop"));
    EXPECT_EQ(entry_value(entry, "Exec"), "quillpeek --desktop %f");
    EXPECT_EQ(entry_value(entry, "Terminal"), "false");
    EXPECT_EQ(entry_value(entry, "Icon"), "quillpeek");
    EXPECT_EQ(entry_value(entry, "Categories"), "Graphics;Viewer;Office;");
    std::set<std::string> offered =
        split(read_file(testing_support::source_dir() + "/data/mimetypes.list"), '\n');
    EXPECT_EQ(split(entry_value(entry, "MimeType"), ';'), offered);
    EXPECT_EQ(offered.count("application/zip"), 0u);
}

TEST_F(Installed, TheEntryMetainfoAndManualPagePassTheirValidators)
{
    REQUIRE_TOOL("/usr/bin/desktop-file-validate", "desktop-file-utils");
    REQUIRE_TOOL("/usr/bin/appstreamcli", "appstream");
    REQUIRE_TOOL("/usr/bin/man", "man-db");
    ProcessResult entry =
        run_process({"/usr/bin/desktop-file-validate", path("share/applications/" + app_id + ".desktop")});
    EXPECT_EQ(entry.exit_code, 0) << entry.out << entry.err;
    EXPECT_EQ(entry.out.find("error"), std::string::npos) << entry.out;
    EXPECT_EQ(entry.out.find("warning"), std::string::npos) << entry.out;

    ProcessResult metainfo = run_process({"/usr/bin/appstreamcli", "validate", "--no-net",
                                          path("share/metainfo/" + app_id + ".metainfo.xml")});
    EXPECT_EQ(metainfo.exit_code, 0) << metainfo.out << metainfo.err;

    testing_support::ProcessOptions options;
    options.env["MANWIDTH"] = "80";
    options.env["MAN_KEEP_FORMATTING"] = "";
    ProcessResult page =
        run_process({"/usr/bin/man", "--warnings", "-l", path("share/man/man1/quillpeek.1.gz")}, options);
    EXPECT_EQ(page.exit_code, 0);
    EXPECT_EQ(page.err, "");
    for (const char *section : {"SYNOPSIS", "TEMPLATE", "EXIT STATUS", "BREAK", "ENVIRONMENT", "LIMITS"})
        EXPECT_NE(page.out.find(std::string("\n") + section + "\n"), std::string::npos) << section;
}

TEST(Package, TheDebianPackagePassesLintianAndNamesItsLibraries)
{
    REQUIRE_TOOL("/usr/bin/lintian", "lintian");
    REQUIRE_TOOL("/usr/bin/dpkg-shlibdeps", "dpkg-dev");
    TempDir dir;
    testing_support::ProcessOptions options;
    options.timeout_seconds = 300;
    ProcessResult made =
        run_process({QUILLPEEK_CPACK, "-G", "DEB", "--config",
                     std::string(QUILLPEEK_BUILD_DIR) + "/CPackConfig.cmake", "-B", dir.path()},
                    options);
    ASSERT_EQ(made.exit_code, 0) << made.out << made.err;
    std::string deb;
    for (const auto &file : std::filesystem::directory_iterator(dir.path()))
        if (file.path().extension() == ".deb")
            deb = file.path();
    ASSERT_NE(deb, "") << made.out;
    EXPECT_EQ(std::filesystem::path(deb).filename().string().rfind("quillpeek_1.2_", 0), 0u) << deb;

    ProcessResult depends = run_process({"/usr/bin/dpkg-deb", "-f", deb, "Depends"});
    for (const char *library :
         {"libarchive13", "libspng0", "libjpeg62-turbo", "libc6", "libxml2", "libfontconfig1", "libfreetype6",
          "libharfbuzz0b", "fonts-dejavu-core", "libwmf-0.2-7", "fonts-urw-base35"})
        EXPECT_NE(depends.out.find(library), std::string::npos) << depends.out;

    ProcessResult lint = run_process({"/usr/bin/lintian", "--no-tag-display-limit", deb}, options);
    EXPECT_EQ(lint.exit_code, 0) << lint.out << lint.err;
    EXPECT_EQ(lint.out.find("E: "), std::string::npos) << lint.out;
}

} // namespace
