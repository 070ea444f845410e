// The rollback journal: steps come back whole, newest first for the
// rollback and oldest first for the commit, however many there are; and
// the names files are set aside under.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../stub/engine/rollback.h"

using namespace zevrin;

namespace {

struct Step {
    uint8_t kind;
    std::string path;
    std::string other; // may hold NULs
    uint32_t a, b;
};

std::vector<Step> Walk(bool backwards)
{
    std::vector<Step> steps;
    JournalStep s;
    uint32_t at = backwards ? JournalEnd() : 0;
    while (backwards ? JournalPrevious(&at, &s) : JournalNext(&at, &s))
        steps.push_back({s.kind, s.path, std::string(reinterpret_cast<const char*>(s.other), s.otherLength), s.a, s.b});
    return steps;
}

void Add(const Step& s)
{
    ASSERT_TRUE(JournalAdd(s.kind, s.path.c_str(), s.other.data(), static_cast<uint32_t>(s.other.size()), s.a, s.b));
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override { ClearJournal(); }
    void TearDown() override { ClearJournal(); }
};

TEST_F(JournalTest, StepsComeBackWholeBothWays)
{
    const std::vector<Step> steps = {
        {StepFileMade, "C:\\App\\a.txt", "", 0, 0},
        {StepFileReplaced, "C:\\App\\b.dll", std::string("C:\\App\\b.dll.zvbak", 19), 0, 0},
        {StepSharedCount, "C:\\Windows\\System32\\s.dll", std::string("\x05\0\0\0", 4), 1, 4},
        {StepFont, "C:\\Windows\\Fonts\\z.ttf", std::string("Z (TrueType)\0z.ttf\0", 19), 3, 1},
        {StepAtRestart, "C:\\App\\in use.exe", std::string("C:\\App\\in use.$$A", 18), 0, 0},
    };
    for (const Step& s : steps)
        Add(s);
    EXPECT_EQ(JournalCount(), steps.size());
    std::vector<Step> forward = Walk(false);
    std::vector<Step> backward = Walk(true);
    ASSERT_EQ(forward.size(), steps.size());
    ASSERT_EQ(backward.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        for (const Step* got : {&forward[i], &backward[steps.size() - 1 - i]}) {
            SCOPED_TRACE(steps[i].path);
            EXPECT_EQ(got->kind, steps[i].kind);
            EXPECT_EQ(got->path, steps[i].path);
            EXPECT_EQ(got->other, steps[i].other);
            EXPECT_EQ(got->a, steps[i].a);
            EXPECT_EQ(got->b, steps[i].b);
        }
    }
}

TEST_F(JournalTest, DropLastTakesOnlyTheNewestAndAnEmptyJournalWalksNothing)
{
    EXPECT_TRUE(Walk(true).empty());
    JournalDropLast(); // nothing to drop
    EXPECT_EQ(JournalCount(), 0u);
    ASSERT_TRUE(JournalAddPair(StepFileReplaced, "C:\\x", "C:\\x.zvbak"));
    ASSERT_TRUE(JournalAdd(StepFileMade, "C:\\y"));
    JournalDropLast();
    std::vector<Step> left = Walk(true);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].path, "C:\\x");
    EXPECT_EQ(left[0].other, std::string("C:\\x.zvbak", 11));
    // A step added after the drop follows the one kept.
    ASSERT_TRUE(JournalAdd(StepFileMade, "C:\\z"));
    EXPECT_EQ(Walk(false).back().path, "C:\\z");
}

// Thousands of files, past every growth of the buffer: none is lost and
// the order holds.
TEST_F(JournalTest, ManyStepsKeepTheirOrder)
{
    const int count = 5000;
    for (int i = 0; i < count; ++i)
        Add({StepFileMade, "C:\\App\\" + std::string(static_cast<size_t>(i % 200), 'd') + std::to_string(i), "", 0, 0});
    std::vector<Step> back = Walk(true);
    ASSERT_EQ(back.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(back[static_cast<size_t>(count - 1 - i)].path,
                  "C:\\App\\" + std::string(static_cast<size_t>(i % 200), 'd') + std::to_string(i));
}

TEST(BackupNameTest, NamesBesideTheFileWithinTheLimit)
{
    const std::string path = "C:\\App\\prog.exe";
    struct Case {
        unsigned attempt;
        uint32_t size;
        bool fits;
        std::string name;
    } cases[] = {
        {1, 260, true, "C:\\App\\prog.exe.zvbak"},
        {2, 260, true, "C:\\App\\prog.exe.zvbak2"},
        {12, 260, true, "C:\\App\\prog.exe.zvbak12"},
        {1, static_cast<uint32_t>(path.size() + 7), true, "C:\\App\\prog.exe.zvbak"}, // exactly, terminator too
        {1, static_cast<uint32_t>(path.size() + 6), false, ""},
        {10, static_cast<uint32_t>(path.size() + 8), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attempt);
        char out[300] = "untouched";
        EXPECT_EQ(BackupName(path.c_str(), c.attempt, out, c.size), c.fits);
        if (c.fits) {
            EXPECT_EQ(std::string(out), c.name);
        }
    }
}

} // namespace
