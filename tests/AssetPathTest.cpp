// Asset paths: normalisation, join, byte order, extension, parent test, relative path.
#include "TestSupport.h"

#include <Assets/AssetPath.h>

#include <gtest/gtest.h>

using Qor::Draxel::Assets::AssetPath;
using testing_support::P;

namespace {

std::string Text(const AssetPath& p_path)
{
    return p_path.str();
}

TEST(AssetPathNormalize, FoldsBackslashesAndTrailingSlashesOnly)
{
    EXPECT_EQ(Text(P("C:\\data\\assets")), "C:/data/assets");
    EXPECT_EQ(Text(P("C:\\data\\assets\\")), "C:/data/assets");
    EXPECT_EQ(Text(P("a/b//")), "a/b");
    EXPECT_EQ(Text(P("///")), "/");
    EXPECT_EQ(Text(P("\\\\")), "/");
    EXPECT_EQ(Text(P("/")), "/");
    EXPECT_EQ(Text(P("")), "");
    EXPECT_EQ(Text(AssetPath()), "");
    EXPECT_EQ(Text(P("a//b/./../c")), "a//b/./../c");
    EXPECT_EQ(Text(P("//lead")), "//lead");
    EXPECT_EQ(Text(P("Shaders/X.GLSL")), "Shaders/X.GLSL");
    EXPECT_EQ(Text(P(" sp ace ")), " sp ace ");
}

TEST(AssetPathNormalize, AppliesOnEveryEntryFromOutsideText)
{
    EXPECT_EQ(Text(AssetPath(qorfile::filepath("C:\\data\\"))), "C:/data");
    AssetPath path;
    path = std::string("x\\y\\");
    EXPECT_EQ(Text(path), "x/y");
    path = qorfile::filepath("dir/");
    EXPECT_EQ(Text(path), "dir");
    AssetPath copy(path);
    EXPECT_EQ(Text(copy), "dir");
    EXPECT_STREQ(static_cast<const char*>(copy), "dir");
    EXPECT_EQ(AssetPath::DirectorySeparator, '/');
}

TEST(AssetPathOrder, IsByteOrderAndCaseSensitive)
{
    EXPECT_FALSE(P("a/B") == P("a/b"));
    EXPECT_TRUE(P("a\\b") == P("a/b"));
    EXPECT_TRUE(P("a") < P("a-b"));
    EXPECT_TRUE(P("a-b") < P("a/b"));
    EXPECT_TRUE(P("a/b") < P("a0"));
    EXPECT_FALSE(P("a0") < P("a"));
    EXPECT_TRUE(P("") < P("a"));
    EXPECT_FALSE(P("a") < P("a"));
    // Bytes above 0x7f sort after ASCII (unsigned comparison).
    EXPECT_TRUE(P("z") < P("\xc3\xa9"));
}

TEST(AssetPathJoin, PutsOneSlashAtTheSeam)
{
    EXPECT_EQ(Text(P("a") + P("b")), "a/b");
    EXPECT_EQ(Text(P("a") + P("/b")), "a/b");
    EXPECT_EQ(Text(P("a") + P("//b")), "a/b");
    EXPECT_EQ(Text(P("") + P("/b")), "b");
    EXPECT_EQ(Text(P("/") + P("b")), "/b");
    EXPECT_EQ(Text(P("a") + P("")), "a");
    EXPECT_EQ(Text(P("") + P("")), "");
    EXPECT_EQ(Text(P("a") + P("/")), "a");
    EXPECT_EQ(Text(P("") + P("/")), "/");
    EXPECT_EQ(Text(P("a/b") + P("c/d")), "a/b/c/d");
}

TEST(AssetPathExtension, TakesTheLastComponentsDot)
{
    EXPECT_EQ(P("a/b.txt").Extension(), "txt");
    EXPECT_EQ(P("x.tar.gz").Extension(), "gz");
    EXPECT_EQ(P("dir.d/file").Extension(), "");
    EXPECT_EQ(P("a/.cfg").Extension(), "cfg");
    EXPECT_EQ(P(".cfg").Extension(), "");
    EXPECT_EQ(P("file.").Extension(), "");
    EXPECT_EQ(P("a.b/c").Extension(), "");
    EXPECT_EQ(P("IMG.PNG").Extension(), "PNG");
    EXPECT_EQ(P("").Extension(), "");
}

TEST(AssetPathParent, IsATextualPrefixUpToASlash)
{
    EXPECT_TRUE(P("").IsParentOf(P("")));
    EXPECT_TRUE(P("").IsParentOf(P("anything/at/all")));
    EXPECT_TRUE(P("a").IsParentOf(P("a")));
    EXPECT_TRUE(P("a").IsParentOf(P("a/b")));
    EXPECT_TRUE(P("a").IsParentOf(P("a/b/c")));
    EXPECT_FALSE(P("a").IsParentOf(P("ab")));
    EXPECT_FALSE(P("a/b").IsParentOf(P("a")));
    EXPECT_FALSE(P("a").IsParentOf(P("")));
    EXPECT_FALSE(P("A").IsParentOf(P("a/b")));
    EXPECT_TRUE(P("/").IsParentOf(P("/")));
    EXPECT_TRUE(P("/").IsParentOf(P("//x")));
    EXPECT_FALSE(P("/").IsParentOf(P("/a")));
}

TEST(AssetPathRelative, CutsTheBaseAndOneSlash)
{
    EXPECT_EQ(Text(P("a/b/c").RelativeTo(P("a"))), "b/c");
    EXPECT_EQ(Text(P("a").RelativeTo(P("a"))), "");
    EXPECT_EQ(Text(P("/x").RelativeTo(P(""))), "x");
    EXPECT_EQ(Text(P("x/y").RelativeTo(P(""))), "x/y");
    EXPECT_EQ(Text(P("a//b").RelativeTo(P("a"))), "/b");
    EXPECT_EQ(Text(P("q/r").RelativeTo(P("a"))), "q/r");
    EXPECT_EQ(Text(P("ab").RelativeTo(P("a"))), "ab");
}

} // namespace
