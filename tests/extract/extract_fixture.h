// Runs XAD_picture_unpacker in-process with T: pointed at a fresh folder
// (through TMPDIR), on archives the test writes, and looks at what landed
// in t:temp.
#ifndef QUILLPEEK_TESTS_EXTRACT_FIXTURE_H
#define QUILLPEEK_TESTS_EXTRACT_FIXTURE_H

#include <string>
#include <vector>

#include "platform_fixture.h"
#include "support.h"

class ExtractTest : public PlatformTest
{
  protected:
    void SetUp() override;
    void TearDown() override;

    // A folder for everything the test makes itself; T: lies inside it at
    // t_dir(), two levels down, so that a step out of t:temp stays inside.
    const std::string &root() const { return root_.path(); }
    std::string t_dir() const { return root() + "/t/tmp"; }
    std::string temp_dir() const { return t_dir() + "/temp"; }
    std::string temp_file(const std::string &name) const { return temp_dir() + "/" + name; }

    // Writes an archive of these members under root() and returns its path.
    std::string archive(const std::vector<testing_support::Member> &members,
                        const std::string &format = "zip");

    // A zip whose named members' compressed data is damaged at its first
    // byte (an invalid deflate block), so that reading them fails before
    // anything of them comes out.
    std::string archive_damaged_at_start(const std::vector<testing_support::Member> &members,
                                         const std::vector<std::string> &damaged);

    // A stored zip whose named member's last data byte is changed, so that
    // all of it comes out before its checksum shows the damage.
    std::string archive_damaged_at_end(const std::vector<testing_support::Member> &members,
                                       const std::string &damaged);

    // The names in t:temp, sorted; everything is expected to be a regular
    // file. Empty when the folder is empty or missing.
    std::vector<std::string> temp_listing() const;

    // Every path under root(), relative to it, sorted (folders included).
    std::vector<std::string> tree() const;

    // The journal's call names (first words) among those the routine makes.
    std::vector<std::string> call_names();

  private:
    testing_support::TempDir root_;
    std::string saved_tmpdir_;
    bool had_tmpdir_ = false;
    int archives_ = 0;
};

// The names the extraction tests use everywhere.
using testing_support::Member;
using testing_support::read_file;
using testing_support::regular;
using testing_support::write_file;
using Names = std::vector<std::string>;

// Some bytes that differ from member to member.
std::string member_data(const std::string &seed, size_t size = 300);

bool is_regular(const std::string &path);
bool exists_or_link(const std::string &path);

#endif
