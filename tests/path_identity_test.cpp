// Folder paths judged by what they name: spellings, drive letters, links, missing subtrees.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/path_identity.h"
#include "tests/support.h"

namespace {

TEST(NormalizeFolderPath, EverySpellingOfAFolderGivesOneFormAndNonFoldersGiveNone) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"S:\\Data\\", "S:\\Data\\"},
      {"S:\\Data", "S:\\Data\\"},
      {"s:/Data/Notes", "S:\\Data\\Notes\\"},
      {"S:\\\\Data\\\\\\Notes\\\\", "S:\\Data\\Notes\\"},
      {"S:/", "S:\\"},
      {"S:\\\\", "S:\\"},
      {"\\\\?\\S:\\", "S:\\"},
      {"\\\\?\\S:\\Data\\.\\x\\..", "S:\\Data\\"},
      {"S:\\Data\\..\\..\\Data\\", "S:\\Data\\"},
      {"S:\\Data\\...\\", "S:\\Data\\...\\"},
      {"  \tS:\\Data\\  ", "S:\\Data\\"},
      {"\\\\server\\share", "\\\\server\\share\\"},
      {"\\\\server\\share\\dir\\..\\..", "\\\\server\\share\\"},
      {"\\\\?\\UNC\\server\\share\\dir", "\\\\server\\share\\dir\\"},
      {"//server/share/dir/", "\\\\server\\share\\dir\\"},
      {"", ""},
      {" ", ""},
      {".", ""},
      {"\\", ""},
      {".\\", ""},
      {"..\\Data\\", ""},
      {"Data\\", ""},
      {"C:Data", ""},
      {"C:", ""},
      {"\\Data\\", ""},
      {"1:\\Data\\", ""},
      {"\\\\server", ""},
      {"\\\\server\\", ""},
      {"\\\\.\\C:\\", ""},
      {"\\\\?\\Volume{0}\\", ""},
      {"S:\\Da*ta\\", ""},
      {"S:\\Data\\a:b\\", ""},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(NormalizeFolderPath(input), expected) << "from [" << input << "]";
}

// A made-up file system: letters (and a second share name) that lead to the same folders,
// the folders that exist, and one volume that gives no file indexes.
IdentityReader FakeVolumes(std::vector<std::string> existing) {
  return [existing](const std::string& folder, FolderIdentity& identity) {
    const std::vector<std::pair<std::string, std::string>> aliases = {
        {"U:\\", "D:\\"}, {"Z:\\HOST\\S\\", "S:\\"}, {"T:\\", "S:\\DATA\\"}, {"N:\\", "M:\\"}};
    std::string name = folder;
    for (char& c : name) c = static_cast<char>(toupper(c));
    for (const auto& [alias, real] : aliases)
      if (name.rfind(alias, 0) == 0) name = real + name.substr(alias.size());
    for (size_t i = 0; i < existing.size(); ++i) {
      if (existing[i] != name) continue;
      bool indexless = name[0] == 'M';
      identity = {indexless ? 7u : 1u, indexless ? 0u : i + 1};
      return true;
    }
    return false;
  };
}

TEST(FolderContains, DecidesByIdentityAndJudgesMissingFoldersThroughTheirAncestors) {
  IdentityReader read =
      FakeVolumes({"S:\\", "S:\\DATA\\", "S:\\DATA\\NOTES\\", "D:\\", "D:\\BACKUP\\",
                   "D:\\BACKUP\\DATA\\", "M:\\", "M:\\A\\", "M:\\B\\", "Z:\\", "Z:\\HOST\\"});
  struct Case {
    const char* folder;
    const char* path;
    Containment expected;
  };
  const std::vector<Case> cases = {
      {"S:\\Data\\", "S:\\Data\\", Containment::kYes},
      {"S:\\Data\\", "s:\\data\\notes\\", Containment::kYes},
      {"S:\\Data\\", "S:\\DataX\\", Containment::kNo},
      {"S:\\Data\\", "S:\\", Containment::kNo},
      {"S:\\", "Z:\\host\\s\\Data\\", Containment::kYes},
      {"S:\\Data\\", "T:\\", Containment::kYes},
      {"S:\\Data\\Notes\\", "T:\\Notes\\x\\", Containment::kYes},
      {"T:\\", "S:\\", Containment::kNo},
      // Missing on both sides: the way from a shared existing ancestor decides.
      {"D:\\Backup\\Data\\Notes\\", "U:\\Backup\\Data\\Notes\\", Containment::kYes},
      {"D:\\Backup\\New\\", "U:\\Backup\\New\\Deeper\\", Containment::kYes},
      {"D:\\Backup\\New\\", "U:\\Backup\\Newer\\", Containment::kNo},
      {"D:\\Backup\\New\\", "U:\\Backup\\", Containment::kNo},
      {"Q:\\Gone\\", "D:\\Backup\\", Containment::kNo},
      // No file indexes: the text decides on one name, a second name for the volume may hide.
      {"M:\\A\\", "M:\\a\\x\\", Containment::kYes},
      {"M:\\A\\", "M:\\B\\", Containment::kNo},
      {"M:\\A\\", "N:\\A\\", Containment::kMaybe},
      {"M:\\A\\", "S:\\Data\\", Containment::kNo},
      {"", "S:\\", Containment::kMaybe},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FolderContains(c.folder, c.path, read), c.expected) << c.path << " in " << c.folder;
}

TEST(IllegalConfiguration, RefusesEveryWayACopyCanMeetASource) {
  IdentityReader read = FakeVolumes(
      {"S:\\", "S:\\DATA\\", "S:\\DATA\\NOTES\\", "S:\\OTHER\\", "D:\\", "D:\\BACKUP\\",
       "D:\\BACKUP\\DATA\\", "D:\\BACKUP\\DATA\\NOTES\\", "Z:\\", "Z:\\HOST\\", "M:\\", "M:\\A\\"});
  struct Case {
    const char* destination;
    std::vector<std::string> sources;
    bool illegal;
  };
  const std::vector<Case> cases = {
      {"D:\\Backup\\", {"S:\\Data\\"}, false},
      {"D:\\Backup\\", {"S:\\Data\\", "S:\\Other\\", "S:\\"}, false},
      {"S:\\Other\\", {"S:\\Data\\"}, false},
      {"S:\\", {"S:\\Data\\"}, true},
      {"Z:\\host\\s\\", {"S:\\Data\\"}, true},
      {"S:\\Data\\", {"S:\\Data\\"}, true},
      {"S:\\Data\\Notes\\", {"S:\\Data\\"}, true},
      {"T:\\", {"S:\\Data\\"}, true},
      {"T:\\New\\", {"S:\\Data\\"}, true},
      {"D:\\Backup\\", {"S:\\Data\\", "U:\\Backup\\Data\\Notes\\"}, true},
      {"D:\\Backup\\", {"U:\\Backup\\Data\\Notes\\", "S:\\Data\\"}, true},
      // A source inside the destination whose folder another source's copy would replace.
      {"D:\\Backup\\", {"D:\\Backup\\Data\\", "S:\\Data\\Notes\\"}, true},
      {"D:\\Backup\\", {"D:\\Backup\\Data\\"}, false},
      {"D:\\", {"D:\\Backup\\"}, true},
      {"D:\\Backup\\", {"", "S:\\Data\\"}, false},
      {"M:\\A\\", {"S:\\Data\\"}, false},
      {"", {"S:\\Data\\"}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsIllegalConfiguration(c.destination, c.sources, read), c.illegal)
        << "destination " << c.destination << ", first source " << c.sources[0];
}

// The real thing: drive letters mapped in the prefix, Wine's Z:\ view of the host and a
// host symbolic link, all leading to one folder.
TEST(FolderIdentity, ReadsOneIdentityForEveryWayToAFolder) {
  ScratchDir dir;
  std::string data = dir / "data\\", link = dir / "link";
  ASSERT_TRUE(MakeDir(data));
  ASSERT_TRUE(MakeDir(data + "inside"));
  MappedDrive letter('V', dir.path());
  ASSERT_TRUE(letter.ready());
  ASSERT_TRUE(HostSymlink(link, data));
  std::string hostView = NormalizeFolderPath("Z:" + HostPath(data));

  FolderIdentity real, other;
  ASSERT_TRUE(ReadFolderIdentity(data, real));
  EXPECT_TRUE(real.known()) << "this volume gives file indexes";
  for (const std::string& way :
       {std::string("V:\\data\\"), std::string("v:\\DATA\\"), hostView, link + "\\"}) {
    ASSERT_TRUE(ReadFolderIdentity(way, other)) << way;
    EXPECT_EQ(other, real) << way;
  }
  EXPECT_FALSE(ReadFolderIdentity(dir / "missing\\", other));

  EXPECT_EQ(FolderContains(data, "V:\\data\\inside\\new\\"), Containment::kYes);
  EXPECT_EQ(FolderContains(data, link + "\\inside\\"), Containment::kYes);
  EXPECT_EQ(FolderContains("V:\\data\\", hostView), Containment::kYes);
  EXPECT_EQ(FolderContains(data + "inside\\", "V:\\data\\"), Containment::kNo);
  EXPECT_TRUE(IsIllegalConfiguration(hostView + "inside\\", {"V:\\data\\"}));
  EXPECT_FALSE(IsIllegalConfiguration(dir / "backup\\", {"V:\\data\\"}));
  RemoveTreeOnHost(dir.path());
}

}  // namespace
