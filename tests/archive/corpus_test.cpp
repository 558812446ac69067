// The member routines over real office documents: the shared corpus and the
// real-world documents described by realcorpus/INDEX.tsv.
#include <dirent.h>

#include <map>

#include "archive/archive.h"
#include "archive_tests.h"
#include "platform_fixture.h"

using namespace archive_tests;
using testing_support::corpus_dir;
using testing_support::read_index;
using testing_support::realcorpus_dir;

namespace
{

const std::string png_signature("\x89PNG\r\n\x1a\n", 8);
const std::string png_end("\0\0\0\0IEND\xae\x42\x60\x82", 12);

class Corpus : public PlatformTest
{
  protected:
    // The member as the routines give it: its bytes (size of them) and the
    // check that the rest of the block is zero.
    std::string take(const std::string &path, uint32_t &size)
    {
        void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
        size = XAD_file_grosse(path.c_str(), "thumbnail.png");
        if (block == nullptr)
            return std::string();
        const char *bytes = static_cast<const char *>(block);
        std::string member(bytes, size);
        EXPECT_EQ(std::string(bytes + size, 3ull * size), std::string(3ull * size, '\0')) << path;
        FreeVec(block);
        return member;
    }

    // The first listed member whose name contains "thumbnail.png".
    std::string first_match(const std::string &path)
    {
        OpenArchive archive(path);
        for (const Listed &member : archive.members())
            if (member.name.find("thumbnail.png") != std::string::npos)
                return member.name;
        return std::string();
    }
};

TEST_F(Corpus, EveryCorpusDocumentGivesItsWholeThumbnail)
{
    std::string folder = corpus_dir();
    DIR *dir = opendir(folder.c_str());
    ASSERT_NE(dir, nullptr) << folder;
    int documents = 0;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 3, ".od") != 0)
            continue;
        ++documents;
        uint32_t size = 0;
        std::string member = take(folder + "/" + name, size);
        ASSERT_GT(size, png_signature.size() + png_end.size()) << name;
        EXPECT_EQ(member.substr(0, 8), png_signature) << name;
        EXPECT_EQ(member.substr(member.size() - 12), png_end) << name;
    }
    closedir(dir);
    EXPECT_EQ(documents, 5);
}

TEST_F(Corpus, EveryRealDocumentGivesWhatItsIndexSays)
{
    REQUIRE_REALCORPUS();
    std::string folder = realcorpus_dir();
    auto rows = read_index(folder + "/INDEX.tsv");
    ASSERT_GT(rows.size(), 300u);
    int found = 0, refused = 0;
    for (auto &row : rows) {
        SCOPED_TRACE(row["file"]);
        std::string path = folder + "/" + row["file"];
        uint32_t size = 0;
        std::string member = take(path, size);
        if (row["valid_zip"] != "yes" || row["has_thumbnail_png_member"] != "yes") {
            EXPECT_EQ(size, 0u);
            EXPECT_TRUE(member.empty());
            ++refused;
            continue;
        }
        ++found;
        EXPECT_EQ(first_match(path), row["first_match_name"]);
        ASSERT_EQ(member.size(), size);
        if (row["first_match_name"] != row["thumb_name"])
            continue; // the index describes the other member
        EXPECT_EQ(std::to_string(size), row["thumb_size"]);
        if (row["png_decodes"] == "yes") {
            EXPECT_EQ(member.substr(0, 8), png_signature);
            if (row["png_detail"].find("trailing") == std::string::npos) {
                EXPECT_EQ(member.substr(member.size() - 12), png_end);
            }
        }
    }
    EXPECT_EQ(found, 285);
    EXPECT_EQ(refused, 97);
}

} // namespace
