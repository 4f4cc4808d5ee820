// Pure line edits of the configuration store, over in-memory texts.
#include <gtest/gtest.h>

#include <string>

#include "config_edit.h"

using config_edit::comment_entries;
using config_edit::find_value;
using config_edit::replace_entries;

namespace {

std::string replaced(const std::string& content, const char* name, const char* data, char token, const char* ignore,
                     uint8_t expected_result)
{
    std::string out;
    EXPECT_EQ(replace_entries(content, name, data, token, ignore, out), expected_result);
    return out;
}

}  // namespace

// --- reading a value -----------------------------------------------------------

TEST(ConfigEditFind, FirstQualifyingLineWinsAndSeparatorsAreSkipped)
{
    EXPECT_EQ(find_value("a: 1\ngateway4:\t : 10.0.0.1\ngateway4: 2\n", "gateway4", ':', nullptr, false), "10.0.0.1");
    EXPECT_EQ(find_value("#head\nlocation rack 4 slot 2", "location", ' ', nullptr, false), "rack 4 slot 2");
    EXPECT_FALSE(find_value("gateway4 1.2.3.4\n", "gateway4", ':', nullptr, false));
    EXPECT_FALSE(find_value("", "gateway4", ':', nullptr, false));
}

TEST(ConfigEditFind, CommentedLinesCountOnlyWhenAsked)
{
    const std::string text = "      #gateway4: 10.1.1.1\n";
    EXPECT_FALSE(find_value(text, "gateway4", ':', nullptr, false));
    EXPECT_EQ(find_value(text, "gateway4", ':', nullptr, true), "10.1.1.1");
    // A '#' behind the key is a trailing comment and stays in the value.
    EXPECT_EQ(find_value("gateway4: 10.1.1.1 # router\n", "gateway4", ':', nullptr, false), "10.1.1.1 # router");
}

TEST(ConfigEditFind, EmptyValueKeepsItsLineEndAsTheTokenizerLeavesIt)
{
    EXPECT_EQ(find_value("addresses:\n", "addresses", ':', nullptr, false), "\n");
    EXPECT_EQ(find_value("addresses:\r\n", "addresses", ':', nullptr, false), "\r");
    EXPECT_EQ(find_value("dns: 1.2.3.4\r\n", "dns", ':', nullptr, false), "1.2.3.4");
}

TEST(ConfigEditFind, ExclusionTextCountsFromTheKeyOn)
{
    const std::string text = "  addresses: [1.1.1.1,8.8.8.8]\n  addresses: [10.0.0.2/24]\n";
    EXPECT_EQ(find_value(text, "addresses", ':', ",", false), "[10.0.0.2/24]");
    EXPECT_EQ(find_value(text, "addresses", ':', "/", false), "[1.1.1.1,8.8.8.8]");
    // A ',' in front of the key does not exclude the line for reading.
    EXPECT_EQ(find_value("x, addresses: [1/2]\n", "addresses", ':', ",", false), "[1/2]");
}

TEST(ConfigEditFind, KeyThatEndsALongerWordMatches)
{
    EXPECT_EQ(find_value("hwaddress 00:11\naddress 10.0.0.1\n", "address", ' ', nullptr, false), "00:11");
}

// --- replacing or appending ----------------------------------------------------

TEST(ConfigEditReplace, EveryActiveMatchIsReplacedBehindItsIndentation)
{
    EXPECT_EQ(replaced("k: 1\n    k: 2 # old\nx: 3\n", "k", "9", ':', nullptr, 0), "k: 9\n    k: 9\nx: 3\n");
    EXPECT_EQ(replaced("#H\ninformation a\nlocation b", "information", "c d", ' ', nullptr, 0),
              "#H\ninformation c d\nlocation b");
    // The last line without a line end gains one when it is replaced.
    EXPECT_EQ(replaced("#H\nlocation b", "location", "c", ' ', nullptr, 0), "#H\nlocation c\n");
}

TEST(ConfigEditReplace, NoActiveMatchAppendsWithALeadingLineFeed)
{
    EXPECT_EQ(replaced("#Main Daemon Config File", "information", "T", ' ', nullptr, 2),
              "#Main Daemon Config File\ninformation T");
    EXPECT_EQ(replaced("  #gateway4: 1.1.1.1\n", "gateway4", "2.2.2.2", ':', nullptr, 2),
              "  #gateway4: 1.1.1.1\n\ngateway4: 2.2.2.2");
    EXPECT_EQ(replaced("x # gateway4: 1\n", "gateway4", "2", ':', nullptr, 2), "x # gateway4: 1\n\ngateway4: 2");
}

TEST(ConfigEditReplace, ExclusionTextAnywhereKeepsTheLine)
{
    const std::string text = "  addresses: [a,b]\n  addresses: [c/24]\n";
    EXPECT_EQ(replaced(text, "addresses", "[d/24]", ':', ",", 0), "  addresses: [a,b]\n  addresses: [d/24]\n");
    EXPECT_EQ(replaced("x, addresses: [1/2]\n", "addresses", "[3/4]", ':', ",", 2),
              "x, addresses: [1/2]\n\naddresses: [3/4]");
}

// --- comment marks --------------------------------------------------------------

TEST(ConfigEditComment, MarkGoesDirectlyInFrontOfTheKey)
{
    EXPECT_EQ(comment_entries("    gateway4: 1\n", "gateway4", true, ':', nullptr), "    #gateway4: 1\n");
    EXPECT_EQ(comment_entries("    #gateway4: 1\n", "gateway4", true, ':', nullptr), "    #gateway4: 1\n");
    // '#', a space, then the key is not a mark of the key: a second one goes in.
    EXPECT_EQ(comment_entries("# gateway4: 1\n", "gateway4", true, ':', nullptr), "# #gateway4: 1\n");
    EXPECT_EQ(comment_entries("gateway4: 1", "gateway4", true, ':', nullptr), "#gateway4: 1");
}

TEST(ConfigEditComment, UncommentRemovesExactlyTheMarkInFrontOfTheKey)
{
    EXPECT_EQ(comment_entries("  ##gateway4: 1\n", "gateway4", false, ':', nullptr), "  #gateway4: 1\n");
    EXPECT_EQ(comment_entries("  gateway4: 1\n", "gateway4", false, ':', nullptr), "  gateway4: 1\n");
    EXPECT_EQ(comment_entries("# gateway4: 1\n", "gateway4", false, ':', nullptr), "# gateway4: 1\n");
    // A key at the start of a line, as an appended entry stands, comes back
    // after being commented out.
    EXPECT_EQ(comment_entries("#gateway4: 1\n", "gateway4", false, ':', nullptr), "gateway4: 1\n");
    EXPECT_EQ(comment_entries("gateway4: 1", "gateway4", false, ':', nullptr), "gateway4: 1");
}

TEST(ConfigEditComment, EveryMatchIsTreatedExceptExcludedLines)
{
    const std::string text = "  addresses: [a/24]\n  nameservers:\n    addresses: [b,c]\n";
    EXPECT_EQ(comment_entries(text, "addresses", true, ':', ","),
              "  #addresses: [a/24]\n  nameservers:\n    addresses: [b,c]\n");
    EXPECT_EQ(comment_entries(text, "addresses", true, ':', nullptr),
              "  #addresses: [a/24]\n  nameservers:\n    #addresses: [b,c]\n");
    EXPECT_EQ(comment_entries("", "addresses", true, ':', nullptr), "");
}
