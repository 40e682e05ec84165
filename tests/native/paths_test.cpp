// Path joins and the level-by-level directory walk, with the two directory operations
// played by a recording fake file system.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "paths.h"

TEST(Paths, DerivedDirectoriesOfTheBaseDirectory)
{
    struct Case {
        const char *base, *basePath, *viewer;
    } cases[] = {
        {"c:", "c:\\", "c:\\tabrin"},
        {"c:\\cvtools", "c:\\cvtools", "c:\\cvtools\\tabrin"},
        {"", "", "tabrin"},
        {"\\\\srv\\share\\", "\\\\srv\\share\\", "\\\\srv\\share\\tabrin"},
    };
    for (const auto &c : cases) {
        char buffer[300];
        BuildBasePath(buffer, sizeof buffer, c.base);
        EXPECT_STREQ(buffer, c.basePath) << c.base;
        BuildBaseSubdirectory(buffer, sizeof buffer, c.base, "tabrin");
        EXPECT_STREQ(buffer, c.viewer) << c.base;
    }
}

TEST(Paths, CopiesAreCutToTheirBuffer)
{
    char small[8] = "";
    EXPECT_EQ(CopyText(small, sizeof small, "1234567"), 0);
    EXPECT_EQ(CopyText(small, sizeof small, "12345678"), 1);
    EXPECT_STREQ(small, "1234567");
    CopyText(small, sizeof small, "abc");
    EXPECT_EQ(AppendText(small, sizeof small, "defgh"), 1);
    EXPECT_STREQ(small, "abcdefg");
}

// A file system of directories, some existing from the start; records the creations.
static std::set<std::string> Existing;
static std::set<std::string> Refused;  // levels whose creation fails
static std::vector<std::string> Created;

static int FakeMissing(const char *path)
{
    return Existing.count(path) ? 0 : 1;
}

static int FakeCreate(const char *path)
{
    if (Refused.count(path))
        return -1;
    Existing.insert(path);
    Created.push_back(path);
    return 0;
}

static int Walk(const char *path, std::set<std::string> existing,
                std::set<std::string> refused = {})
{
    Existing = existing;
    Refused = refused;
    Created.clear();
    return WalkDirectoryPath(path, FakeMissing, FakeCreate);
}

TEST(Paths, WalkCreatesEachMissingLevelFromTheRoot)
{
    EXPECT_EQ(Walk("e:\\a\\b\\c", {"e:\\"}), 0);
    EXPECT_EQ(Created, (std::vector<std::string>{"e:\\a", "e:\\a\\b", "e:\\a\\b\\c"}));

    EXPECT_EQ(Walk("e:\\x", {"e:\\"}), 0);
    EXPECT_EQ(Created, (std::vector<std::string>{"e:\\x"}));

    EXPECT_EQ(Walk("d:\\a\\b", {"d:\\", "d:\\a"}), 0);
    EXPECT_EQ(Created, (std::vector<std::string>{"d:\\a\\b"}));

    EXPECT_EQ(Walk("\\\\server\\share\\x\\y", {"\\\\server\\share"}), 0);
    EXPECT_EQ(Created,
              (std::vector<std::string>{"\\\\server\\share\\x", "\\\\server\\share\\x\\y"}));
}

TEST(Paths, WalkStopsAtTheFirstLevelThatCannotBeMade)
{
    EXPECT_EQ(Walk("q:\\x", {}, {"q:\\"}), -1);
    EXPECT_TRUE(Created.empty());

    EXPECT_EQ(Walk("e:\\a\\b\\c", {"e:\\"}, {"e:\\a\\b"}), -1);
    EXPECT_EQ(Created, (std::vector<std::string>{"e:\\a"}));

    EXPECT_EQ(Walk("\\\\server\\share\\x", {}, {"\\\\server\\share"}), -1);
}

TEST(Paths, WalkRefusesOtherShapes)
{
    for (const char *path : {"\\\\server\\share", "\\\\server", "tools\\x", "c:", "1:\\x", "",
                             "c:x\\y", "\\x\\y"})
        EXPECT_EQ(Walk(path, {"c:\\", "\\\\server\\share"}), -1) << path;
    EXPECT_TRUE(Created.empty());
}

TEST(Paths, WalkWithATrailingBackslashEndsOnTheWholePath)
{
    // The last level is the whole path, which the fake knows without its backslash.
    EXPECT_EQ(Walk("e:\\a\\", {"e:\\"}), 1);
    EXPECT_EQ(Created, (std::vector<std::string>{"e:\\a"}));
}
