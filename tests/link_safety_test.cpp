// Links inside a destination copy, made as host symbolic links: removed as links, never
// listed through and never deleted through, with what they point at left whole.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "engine/link_safety.h"
#include "tests/backup_helpers.h"
#include "tests/support.h"

namespace {

class LinkSafety : public ::testing::Test {
 protected:
  // A destination copy holding plain files and a linked folder at two depths, and outside
  // it the precious things the links lead to. (Wine shows a host link to a file as a plain
  // file, with no reparse attribute, so no file call can tell it from one.)
  void SetUp() override {
    MakeFiles(outside, {{"precious.txt", "keep me"}, {"deep\\more.txt", "keep me too"}});
    MakeFiles(copy, {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
    ASSERT_TRUE(HostSymlink(copy + "linked", outside));
    ASSERT_TRUE(HostSymlink(copy + "sub\\deeplink", outside + "deep\\"));
  }

  void TearDown() override { RemoveTreeOnHost(dir.path()); }

  void ExpectOutsideWhole() {
    EXPECT_EQ(ReadTree(outside),
              (Files{{"precious.txt", "keep me"}, {"deep\\more.txt", "keep me too"}}));
  }

  ScratchDir dir;
  std::string outside = dir / "outside\\", copy = dir / "backup\\Data\\";
};

// The shell's deletion follows links, so it gets the copy only once no link is left in it;
// where a link cannot be removed (every host link under Wine 8) the copy is emptied around it.
TEST_F(LinkSafety, ACopyWithLinksIsDeletedWithoutTouchingWhatTheyPointAt) {
  LinkRemoval removal = RemoveLinksInside(copy);
  EXPECT_EQ(removal.removed + static_cast<int>(removal.failed.size()), 2);
  for (const std::string& link : removal.failed) EXPECT_TRUE(Exists(link)) << link;
  ExpectOutsideWhole();

  if (removal.failed.empty()) {
    std::wstring from = Wide(copy.substr(0, copy.size() - 1)) + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    EXPECT_EQ(SHFileOperationW(&op), 0);
    EXPECT_FALSE(Exists(copy));
  } else {
    TreeDeletion deletion = DeleteTreeWithoutLinks(copy);
    for (const std::string& link : removal.failed)
      EXPECT_NE(std::find(deletion.left.begin(), deletion.left.end(), link), deletion.left.end())
          << link;
    for (const char* gone : {"a.txt", "sub\\b.txt"}) EXPECT_FALSE(Exists(copy + gone)) << gone;
  }
  ExpectOutsideWhole();
}

TEST_F(LinkSafety, ACopyThatIsItselfALinkLosesAtMostTheLink) {
  std::string linkedCopy = dir / "backup\\Other\\";
  ASSERT_TRUE(HostSymlink(linkedCopy, outside));
  TreeDeletion deletion = DeleteTreeWithoutLinks(linkedCopy);
  EXPECT_EQ(deletion.deleted, 0);
  EXPECT_EQ(deletion.left, std::vector<std::string>{linkedCopy});
  ExpectOutsideWhole();

  LinkRemoval removal = RemoveLinksInside(linkedCopy);
  EXPECT_EQ(removal.removed + static_cast<int>(removal.failed.size()), 1);
  EXPECT_EQ(Exists(linkedCopy), !removal.failed.empty());
  ExpectOutsideWhole();
}

TEST_F(LinkSafety, TheListingNamesLinkedAndUnlistableFoldersInsteadOfEnteringThem) {
  // Windows drops a segment's trailing dot, so this host folder cannot be listed by its path.
  ASSERT_TRUE(CreateDirectoryW(Long(copy + "odd.").c_str(), nullptr));
  TreeListing listing = ListTreeWithoutLinks(copy);
  std::sort(listing.files.begin(), listing.files.end());
  std::sort(listing.links.begin(), listing.links.end());
  EXPECT_EQ(listing.files, (std::vector<std::string>{copy + "a.txt", copy + "sub\\b.txt"}));
  EXPECT_EQ(listing.links, (std::vector<std::string>{copy + "linked\\", copy + "sub\\deeplink\\"}));
  EXPECT_EQ(listing.unreadable, std::vector<std::string>{copy + "odd.\\"});
  RemoveDirectoryW(Long(copy + "odd.").c_str());
  ExpectOutsideWhole();
}

TEST_F(LinkSafety, APathThroughALinkIsNeverOneToDeleteThrough) {
  const std::string backup = dir / "backup\\";
  const std::vector<std::pair<std::string, bool>> cases = {
      {copy + "a.txt", false},
      {copy + "sub\\b.txt", false},
      {copy + "missing\\x.txt", false},
      {copy + "linked\\precious.txt", true},
      {copy + "sub\\deeplink\\more.txt", true},
      {copy + "linked\\nothing\\there.txt", true},
  };
  for (const auto& [path, through] : cases)
    EXPECT_EQ(PathGoesThroughLink(backup, path), through) << path;
  EXPECT_FALSE(PathGoesThroughLink(copy + "linked\\", copy + "linked\\precious.txt"))
      << "a destination folder chosen as a link is the user's choice";
}

}  // namespace
