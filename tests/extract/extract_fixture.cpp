#include "extract_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

void ExtractTest::SetUp()
{
    const char *tmpdir = std::getenv("TMPDIR");
    had_tmpdir_ = tmpdir != nullptr;
    if (had_tmpdir_)
        saved_tmpdir_ = tmpdir;
    fs::create_directories(t_dir());
    setenv("TMPDIR", t_dir().c_str(), 1);
    PlatformTest::SetUp();
}

void ExtractTest::TearDown()
{
    if (had_tmpdir_)
        setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
    else
        unsetenv("TMPDIR");
    PlatformTest::TearDown();
}

std::string ExtractTest::archive(const std::vector<Member> &members, const std::string &format)
{
    std::string path = root() + "/archive" + std::to_string(++archives_) + "." + format;
    testing_support::write_archive(path, format, members);
    return path;
}

namespace
{

uint16_t le16(const std::string &data, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(data[at]) |
                                 static_cast<unsigned char>(data[at + 1]) << 8);
}

// Where the data of the named member begins in a zip: after its local
// header, name and extra field.
size_t member_data_offset(const std::string &zip, const std::string &name)
{
    for (size_t at = zip.find("PK\x03\x04"); at != std::string::npos; at = zip.find("PK\x03\x04", at + 1)) {
        if (at + 30 > zip.size())
            break;
        size_t name_length = le16(zip, at + 26);
        size_t extra_length = le16(zip, at + 28);
        if (zip.compare(at + 30, name_length, name) == 0 && name_length == name.size())
            return at + 30 + name_length + extra_length;
    }
    throw std::runtime_error("no local header for " + name);
}

} // namespace

std::string ExtractTest::archive_damaged_at_start(const std::vector<Member> &members,
                                                  const std::vector<std::string> &damaged)
{
    std::string path = archive(members, "zip");
    std::string zip = testing_support::read_file(path);
    // Final block of the reserved type 3: no inflater accepts it.
    for (const std::string &name : damaged)
        zip[member_data_offset(zip, name)] = '\x07';
    testing_support::write_file(path, zip);
    return path;
}

std::string ExtractTest::archive_damaged_at_end(const std::vector<Member> &members,
                                                const std::string &damaged)
{
    std::string path = archive(members, "zip-stored");
    std::string zip = testing_support::read_file(path);
    size_t size = 0;
    for (const Member &member : members)
        if (member.name == damaged)
            size = member.data.size();
    if (size == 0)
        throw std::runtime_error("no data to damage in " + damaged);
    zip[member_data_offset(zip, damaged) + size - 1] ^= 0x5a;
    testing_support::write_file(path, zip);
    return path;
}

std::vector<std::string> ExtractTest::temp_listing() const
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(temp_dir(), error)) {
        names.push_back(entry.path().filename().string());
        EXPECT_TRUE(entry.is_regular_file() && !entry.is_symlink()) << entry.path();
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ExtractTest::tree() const
{
    std::vector<std::string> paths;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root()))
        paths.push_back(fs::relative(entry.path(), root()).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> ExtractTest::call_names()
{
    std::vector<std::string> names;
    for (const std::string &line :
         calls({"OpenLibrary", "CloseLibrary", "xadAllocObjectA", "xadGetInfoA", "CreateDir", "UnLock",
                "FilePart", "xadFileUnArcA", "xadFreeInfo", "xadFreeObjectA"}))
        names.push_back(line.substr(0, line.find(' ')));
    return names;
}

std::string member_data(const std::string &seed, size_t size)
{
    std::string data;
    uint32_t state = 2166136261u;
    for (char c : seed)
        state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    while (data.size() < size) {
        state = state * 1664525u + 1013904223u;
        data.push_back(static_cast<char>(state >> 24));
    }
    return data;
}

bool is_regular(const std::string &path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool exists_or_link(const std::string &path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}
