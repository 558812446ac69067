#include "archive_tests.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

namespace archive_tests
{

void age_file(const std::string &path, int seconds)
{
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

namespace
{

uint16_t le16(const std::string &data, size_t offset)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(data[offset]) | static_cast<uint8_t>(data[offset + 1])
                                                                          << 8);
}

} // namespace

ZipHeaders find_zip_headers(const std::string &zip, const std::string &name)
{
    ZipHeaders found;
    for (size_t at = 0; at + 46 <= zip.size(); ++at) {
        if (zip.compare(at, 4, "PK\3\4") == 0 && at + 30 <= zip.size() &&
            zip.compare(at + 30, le16(zip, at + 26), name) == 0 && le16(zip, at + 26) == name.size())
            found.local = static_cast<long>(at);
        if (zip.compare(at, 4, "PK\1\2") == 0 && zip.compare(at + 46, le16(zip, at + 28), name) == 0 &&
            le16(zip, at + 28) == name.size())
            found.central = static_cast<long>(at);
    }
    return found;
}

void put_le32(std::string &data, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = static_cast<char>(value >> (8 * i));
}

OpenArchive::OpenArchive(const std::string &path, const char *password)
{
    xadMasterBase = OpenLibrary("xadmaster.library", 0);
    if (xadMasterBase == nullptr)
        return;
    ai_ = static_cast<struct xadArchiveInfo *>(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE));
    if (ai_ == nullptr)
        return;
    ai_->xai_Password = const_cast<STRPTR>(password);
    info_result_ = xadGetInfo(ai_, XAD_INFILENAME, path.c_str(), TAG_DONE);
}

OpenArchive::~OpenArchive()
{
    if (ai_ != nullptr && info_result_ == XADERR_OK)
        xadFreeInfo(ai_);
    if (ai_ != nullptr)
        xadFreeObject(ai_, TAG_DONE);
    if (xadMasterBase != nullptr)
        CloseLibrary(xadMasterBase);
}

std::vector<Listed> OpenArchive::members() const
{
    std::vector<Listed> result;
    if (ai_ == nullptr || info_result_ != XADERR_OK)
        return result;
    for (const struct xadFileInfo *fi = ai_->xai_FileInfo; fi != nullptr; fi = fi->xfi_Next)
        result.push_back({fi->xfi_EntryNumber, fi->xfi_FileName, fi->xfi_Size, fi->xfi_Flags});
    return result;
}

std::vector<std::string> OpenArchive::names() const
{
    std::vector<std::string> result;
    for (const Listed &member : members())
        result.push_back(member.name);
    return result;
}

LONG OpenArchive::to_memory(uint32_t number, size_t room, std::string &out, size_t request)
{
    const size_t guard = 64;
    std::vector<char> memory(room + guard, '\x5A');
    std::memset(memory.data(), 0, room);
    LONG code = xadFileUnArc(ai_, XAD_OUTMEMORY, memory.data(), XAD_OUTSIZE,
                             request == SIZE_MAX ? room : request, XAD_ENTRYNUMBER, number, TAG_DONE);
    for (size_t i = room; i < room + guard; ++i)
        EXPECT_EQ(memory[i], '\x5A') << "written past the room at " << i;
    out.assign(memory.data(), room);
    return code;
}

std::string OpenArchive::extracted(uint32_t number, size_t room)
{
    std::string out;
    LONG code = to_memory(number, room, out);
    return code == XADERR_OK ? out : "error " + std::to_string(code);
}

LONG OpenArchive::to_file(uint32_t number, const std::string &name, bool overwrite)
{
    if (overwrite)
        return xadFileUnArc(ai_, XAD_OUTFILENAME, name.c_str(), XAD_ENTRYNUMBER, number, XAD_OVERWRITE, TRUE,
                            TAG_DONE);
    return xadFileUnArc(ai_, XAD_OUTFILENAME, name.c_str(), XAD_ENTRYNUMBER, number, TAG_DONE);
}

} // namespace archive_tests
