// xadmaster.library itself: listing, extraction to memory, refusals.
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include <unistd.h>

#include "archive/archive.h"
#include "archive_tests.h"
#include "platform/control.h"
#include "platform_fixture.h"

using namespace archive_tests;
using testing_support::TempDir;
using testing_support::write_archive;

namespace
{

class XadMaster : public PlatformTest
{
  protected:
    TempDir dir;
};

class XadMasterFormats : public XadMaster, public ::testing::WithParamInterface<const char *>
{
};

std::vector<Member> document_members()
{
    std::vector<Member> members;
    members.push_back(regular("mimetype", "application/vnd.oasis.opendocument.text"));
    members.push_back(directory("Thumbnails"));
    members.push_back(regular("Thumbnails/thumbnail.png", noise(1000)));
    members.push_back(regular("content.xml", std::string(5000, 'x')));
    members.push_back(symlink_to("shortcut", "content.xml"));
    members.push_back(regular("empty", ""));
    return members;
}

TEST_P(XadMasterFormats, ListsRegularFilesNumberedFromOneAndExtractsThem)
{
    std::string path = dir.file(std::string("doc.") + GetParam());
    std::vector<Member> written = document_members();
    if (std::string(GetParam()) == "cpio") // the writer wants sizes that links and folders lack
        written.erase(std::remove_if(written.begin(), written.end(),
                                     [](const Member &m) { return m.kind != Member::File; }),
                      written.end());
    write_archive(path, GetParam(), written);
    OpenArchive archive(path);
    ASSERT_EQ(archive.info_result(), XADERR_OK);
    std::vector<Listed> members = archive.members();
    std::set<std::string> names;
    for (size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(members[i].number, i + 1);
        names.insert(members[i].name);
        auto source = std::find_if(written.begin(), written.end(),
                                   [&](const Member &m) { return m.name == members[i].name; });
        ASSERT_NE(source, written.end()) << members[i].name;
        EXPECT_EQ(members[i].size, source->data.size()) << members[i].name;
        EXPECT_EQ(archive.extracted(members[i].number, source->data.size()), source->data) << members[i].name;
    }
    EXPECT_EQ(names, (std::set<std::string>{"mimetype", "Thumbnails/thumbnail.png", "content.xml", "empty"}));
}

INSTANTIATE_TEST_SUITE_P(Written, XadMasterFormats,
                         ::testing::Values("zip", "zip-stored", "7z", "tar", "tar.gz", "tar.xz", "cpio",
                                           "iso"));

TEST_F(XadMaster, ZipListingFollowsWritingOrder)
{
    std::string path = dir.file("order.zip");
    write_archive(path, "zip", {regular("b", "1"), regular("a", "22"), regular("c/d", "333")});
    EXPECT_EQ(OpenArchive(path).names(), (std::vector<std::string>{"b", "a", "c/d"}));
}

TEST_F(XadMaster, DataDescriptorZipHasRealSizes)
{
    std::string path = dir.file("streamed.zip");
    std::string thumbnail = noise(3000);
    write_archive(path, "zip",
                  {regular("a.txt", std::string(777, 'a')), regular("Thumbnails/thumbnail.png", thumbnail)},
                  true);
    OpenArchive archive(path);
    ASSERT_EQ(archive.info_result(), XADERR_OK);
    std::vector<Listed> members = archive.members();
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].size, 777u);
    EXPECT_EQ(members[1].size, 3000u);
    EXPECT_EQ(archive.extracted(2, 3000), thumbnail);
}

TEST_F(XadMaster, WhatIsNoArchiveIsRefused)
{
    testing_support::write_file(dir.file("text.txt"), "Just some words.\nAnd more of them.\n");
    testing_support::write_file(dir.file("empty.odt"), "");
    // A text listing that names files of this machine must not reach them.
    testing_support::write_file(dir.file("list.mtree"),
                                "#mtree\n./thumbnail.png type=file contents=/etc/passwd\n");
    for (const std::string &path : {dir.file("text.txt"), dir.file("empty.odt"), dir.file("list.mtree"),
                                    dir.file("missing.odt"), dir.path(), std::string("/dev/zero")}) {
        OpenArchive archive(path);
        EXPECT_NE(archive.info_result(), XADERR_OK) << path;
        EXPECT_TRUE(archive.members().empty()) << path;
    }
}

TEST_F(XadMaster, MemoryExtractionNeverWritesPastOutSize)
{
    std::string path = dir.file("doc.zip");
    std::string data = noise(1000);
    write_archive(path, "zip", {regular("m", data)});
    OpenArchive archive(path);
    std::string out;
    EXPECT_EQ(archive.to_memory(1, 400, out), XADERR_SHORTBUFFER);
    EXPECT_EQ(out, data.substr(0, 400));
    EXPECT_EQ(archive.extracted(1, 2000), data + std::string(1000, '\0'));
    EXPECT_NE(archive.to_memory(1, 0, out), XADERR_OK);
}

TEST_F(XadMaster, HeaderThatUnderstatesItsSizeNeverOverflows)
{
    std::string data = noise(100000);
    for (bool central_too : {false, true}) {
        std::string path = dir.file(central_too ? "both.zip" : "local.zip");
        write_archive(path, "zip", {regular("first", "x"), regular("Thumbnails/thumbnail.png", data)});
        std::string zip = testing_support::read_file(path);
        ZipHeaders headers = find_zip_headers(zip, "Thumbnails/thumbnail.png");
        ASSERT_GE(headers.local, 0);
        ASSERT_GE(headers.central, 0);
        put_le32(zip, headers.local + 22, 1000); // uncompressed size
        if (central_too)
            put_le32(zip, headers.central + 24, 1000);
        testing_support::write_file(path, zip);
        OpenArchive archive(path);
        if (archive.info_result() != XADERR_OK)
            continue; // refusing such an archive is just as safe
        for (const Listed &member : archive.members()) {
            std::string out;
            LONG code = archive.to_memory(member.number, member.size, out);
            if (member.name == "Thumbnails/thumbnail.png" && member.size < data.size()) {
                EXPECT_NE(code, XADERR_OK) << member.name;
            }
        }
    }
}

TEST_F(XadMaster, DamagedMemberGivesAnErrorAndKeepsWhatWasWritten)
{
    std::string path = dir.file("damaged.zip");
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "line " + std::to_string(i) + "\n";
    write_archive(path, "zip", {regular("good", "fine"), regular("bad.txt", text)});
    std::string zip = testing_support::read_file(path);
    ZipHeaders headers = find_zip_headers(zip, "bad.txt");
    size_t middle = static_cast<size_t>(headers.local) + 30 + 7 + 200;
    for (size_t i = middle; i < middle + 64; ++i)
        zip[i] = static_cast<char>(~zip[i]);
    testing_support::write_file(path, zip);
    OpenArchive archive(path);
    ASSERT_EQ(archive.info_result(), XADERR_OK);
    std::string out;
    EXPECT_NE(archive.to_memory(2, text.size(), out), XADERR_OK);
    EXPECT_EQ(archive.extracted(1, 4), "fine");
}

TEST_F(XadMaster, EncipheredMemberNeedsItsPassphrase)
{
    std::string path = dir.file("secret.zip");
    Member secret = regular("Thumbnails/thumbnail.png", noise(500));
    secret.passphrase = "swordfish";
    write_archive(path, "zip", {secret});
    {
        OpenArchive archive(path);
        ASSERT_EQ(archive.info_result(), XADERR_OK);
        ASSERT_EQ(archive.members().size(), 1u);
        EXPECT_EQ(archive.members()[0].size, 500u);
        EXPECT_TRUE(archive.members()[0].flags & XADFIF_CRYPTED);
        std::string out;
        EXPECT_EQ(archive.to_memory(1, 500, out), XADERR_ENCRYPTED);
        EXPECT_EQ(out, std::string(500, '\0'));
    }
    OpenArchive opened(path, "swordfish");
    EXPECT_EQ(opened.extracted(1, 500), secret.data);
}

TEST_F(XadMaster, LongNamesAndManyMembersAreListedWhole)
{
    std::string path = dir.file("many.zip");
    std::vector<Member> members;
    for (int i = 0; i < 300; ++i)
        members.push_back(
            regular(std::string(200 + i % 7, 'a' + i % 26) + "/" + std::to_string(i), std::to_string(i)));
    write_archive(path, "zip", members);
    OpenArchive archive(path);
    std::vector<Listed> listed = archive.members();
    ASSERT_EQ(listed.size(), members.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].name, members[i].name);
        EXPECT_EQ(listed[i].number, i + 1);
    }
    EXPECT_EQ(archive.extracted(300, 3), "299");
}

TEST_F(XadMaster, BadRequestsAreRefused)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("m", "data")});
    OpenArchive archive(path);
    std::string out;
    EXPECT_EQ(archive.to_memory(0, 4, out), XADERR_ENTRYNUMBER);
    EXPECT_EQ(archive.to_memory(2, 4, out), XADERR_ENTRYNUMBER);
    EXPECT_EQ(archive.to_memory(1, 4, out, 4), XADERR_OK);
    EXPECT_EQ(xadFileUnArc(nullptr, XAD_OUTMEMORY, out.data(), XAD_OUTSIZE, 4, XAD_ENTRYNUMBER, 1, TAG_DONE),
              XADERR_BADPARAMS);
}

TEST_F(XadMaster, RefusesEveryCallWhileClosed)
{
    ASSERT_EQ(platform_open_count("xadmaster.library"), 0);
    struct Library *closed = xadMasterBase;
    xadMasterBase = OpenLibrary("xadmaster.library", 0);
    CloseLibrary(xadMasterBase);
    EXPECT_EQ(LVO_xadAllocObjectA(closed, XADOBJ_ARCHIVEINFO, nullptr), nullptr);
    EXPECT_EQ(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE), nullptr);
    struct xadArchiveInfo ai = {};
    EXPECT_NE(xadGetInfo(&ai, XAD_INFILENAME, "/nowhere", TAG_DONE), XADERR_OK);
    EXPECT_NE(xadFileUnArc(&ai, XAD_ENTRYNUMBER, 1, TAG_DONE), XADERR_OK);
    xadFreeInfo(&ai);
    xadFreeObject(&ai, TAG_DONE);
    std::vector<std::string> faults;
    for (const std::string &line : journal())
        if (line.find(" FAULT ") != std::string::npos)
            faults.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(faults, (std::vector<std::string>{"xadAllocObjectA", "xadAllocObjectA", "xadGetInfoA",
                                                "xadFileUnArcA", "xadFreeInfo", "xadFreeObjectA"}));
    clear_journal(); // the refusals were the point
}

TEST_F(XadMaster, RemembersAListingOnlyWhileTheFileIsUnchanged)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("one", "1"), regular("two", "22")});
    age_file(path, 60);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(OpenArchive(path).names(), (std::vector<std::string>{"one", "two"}));
    }
    // Same size, same (old) modification time, new content: must be read anew.
    write_archive(path, "zip", {regular("uno", "1"), regular("two", "2")});
    age_file(path, 60);
    OpenArchive archive(path);
    EXPECT_EQ(archive.names(), (std::vector<std::string>{"uno", "two"}));
    EXPECT_EQ(archive.extracted(2, 1), "2");
}

TEST_F(XadMaster, ListingChainIsTheCallersOwnCopy)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("name", "data")});
    age_file(path, 60);
    {
        OpenArchive archive(path);
        ASSERT_EQ(archive.members().size(), 1u);
    }
    xadMasterBase = OpenLibrary("xadmaster.library", 0);
    auto *ai = static_cast<struct xadArchiveInfo *>(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE));
    ASSERT_EQ(xadGetInfo(ai, XAD_INFILENAME, path.c_str(), TAG_DONE), XADERR_OK);
    ai->xai_FileInfo->xfi_FileName[0] = 'N'; // a careless caller
    xadFreeInfo(ai);
    xadFreeObject(ai, TAG_DONE);
    CloseLibrary(xadMasterBase);
    EXPECT_EQ(OpenArchive(path).names(), std::vector<std::string>{"name"});
}

} // namespace

namespace
{

// Members reached straight through a zip's central directory must be the
// very members a full walk reaches.

TEST_F(XadMaster, MembersOfTheSameNameEachGiveTheirOwnData)
{
    std::string path = dir.file("twice.zip");
    write_archive(path, "zip", {regular("a", "first"), regular("b", "bee"), regular("a", "second")});
    OpenArchive archive(path);
    ASSERT_EQ(archive.names(), (std::vector<std::string>{"a", "b", "a"}));
    EXPECT_EQ(archive.extracted(3, 6), "second");
    EXPECT_EQ(archive.extracted(1, 5), "first");
}

TEST_F(XadMaster, ZipAfterLeadingBytesIsStillRead)
{
    std::string path = dir.file("prefixed.zip");
    write_archive(path, "zip", {regular("x", "one"), regular("Thumbnails/thumbnail.png", "picture")});
    testing_support::write_file(path, noise(3000) + testing_support::read_file(path));
    OpenArchive archive(path);
    ASSERT_EQ(archive.info_result(), XADERR_OK);
    ASSERT_EQ(archive.members().size(), 2u);
    EXPECT_EQ(archive.extracted(2, 7), "picture");
}

TEST_F(XadMaster, ZipOfMoreThan65535MembersReachesItsLast)
{
    std::string path = dir.file("many.zip");
    std::vector<Member> members;
    for (int i = 0; i < 70000; ++i)
        members.push_back(regular("m/" + std::to_string(i), std::to_string(i * 7)));
    write_archive(path, "zip", members);
    OpenArchive archive(path);
    ASSERT_EQ(archive.members().size(), 70000u);
    for (uint32_t number : {70000u, 35000u, 1u}) {
        const std::string &data = members[number - 1].data;
        EXPECT_EQ(archive.extracted(number, data.size()), data) << number;
    }
}

TEST_F(XadMaster, ArchiveChangedAfterListingIsNotMistakenForTheListedOne)
{
    std::string path = dir.file("changing.zip");
    for (const std::vector<Member> &now :
         {std::vector<Member>{regular("a", "1111"), regular("c", "3333")},
          std::vector<Member>{regular("a", "1111"), regular("b", "22222")}}) {
        write_archive(path, "zip", {regular("a", "1111"), regular("b", "2222")});
        OpenArchive archive(path);
        ASSERT_EQ(archive.members().size(), 2u);
        write_archive(path, "zip", now); // the same file, rewritten in place
        std::string out;
        EXPECT_EQ(archive.to_memory(2, 4, out), XADERR_INPUT) << now[1].name;
        EXPECT_EQ(out, std::string(4, '\0'));
    }
}

} // namespace

namespace
{

// A document compressed with a filter that libarchive can only run as an
// outside program must not start that program.
TEST_F(XadMaster, NoOutsideProgramIsStartedForADocument)
{
    TempDir dir;
    std::string marker = dir.file("started");
    std::string program = dir.file("lrzip");
    testing_support::write_file(program, "#!/bin/sh\ntouch " + marker + "\ncat >/dev/null\n");
    chmod(program.c_str(), 0755);
    std::string document = dir.file("doc.lrz");
    testing_support::write_file(document, std::string("LRZI\x00\x06", 6) + std::string(64, '\0'));
    std::string saved_path = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", (dir.path() + ":" + saved_path).c_str(), 1);
    EXPECT_EQ(XAD_file_unpacker(document.c_str(), "thumbnail.png"), nullptr);
    EXPECT_EQ(XAD_file_grosse(document.c_str(), "thumbnail.png"), 0u);
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "an outside program was started";
}

} // namespace
