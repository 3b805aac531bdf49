#include "engine/log_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <atomic>
#include <thread>

#include "engine/settings.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(content.substr(start, end - start));
  EXPECT_EQ(start, content.size()) << "the file does not end with CR LF";
  return lines;
}

const std::regex kStamp(R"(\d\d-\d\d-\d\d\d\d   \d\d:\d\d:\d\d   )");

bool IsLogLine(const std::string& line, const std::string& text) {
  return line.size() == 24 + text.size() && std::regex_match(line.substr(0, 24), kStamp) &&
         line.substr(24) == text;
}

// The log in a scratch destination folder, its switch held by a test host.
class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    dest = dir / "my backup\\";
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    log = dest + "Stowly.log";
    SetLogFilePath(log);
  }
  void TearDown() override { SetLogFilePath("Stowly.log"); }
  void SetLogging(bool on) { host.logging = on; }
  void WriteLog(const std::string& text) { writer.Write(text); }
  ScratchDir dir;
  TestHost host;
  LogWriter writer{host};
  std::string dest, log;
};

TEST(LogLine, DateTimeAndTextWithThreeBlanksAndCrLf) {
  SYSTEMTIME date = {}, time = {};
  date.wYear = 2026;
  date.wMonth = 12;
  date.wDay = 6;
  time.wHour = 16;
  time.wMinute = 5;
  time.wSecond = 9;
  EXPECT_EQ(
      LogLine(date, time, "  12   Copying C:\\Data\\a.txt -> E:\\Backup\\Data\\a.txt"),
      "12-06-2026   16:05:09     12   Copying C:\\Data\\a.txt -> E:\\Backup\\Data\\a.txt\r\n");
  date.wMonth = 1;
  date.wDay = 2;
  date.wYear = 987;
  time.wHour = 0;
  time.wMinute = 0;
  time.wSecond = 0;
  EXPECT_EQ(LogLine(date, time, ""), "01-02-0987   00:00:00   \r\n");
  // The date comes from its own reading: a line written at midnight may carry the
  // new day's date with the old day's time, each field as read.
  date = {2027, 1, 5, 1, 0, 0, 0, 0};
  time = {2026, 12, 4, 31, 23, 59, 59, 999};
  EXPECT_EQ(LogLine(date, time, "x"), "01-01-2027   23:59:59   x\r\n");
}

TEST_F(Log, LinesAreWrittenOnlyWhileTheCheckBoxIsChecked) {
  SetLogging(false);
  WriteLog("not written");
  EXPECT_FALSE(Exists(log)) << "an unchecked log switch must not create the file";

  SetLogging(true);
  WriteLog("Checking Destination Folder...");
  WriteLog("  1   Copying C:\\a b\\x.txt -> " + dest + "a b\\x.txt");
  SetLogging(false);
  WriteLog("  2   Copying lost");
  SetLogging(true);
  WriteLog("  3   Copying back");
  std::vector<std::string> lines = Lines(ReadFileText(log));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(IsLogLine(lines[0], "Checking Destination Folder...")) << lines[0];
  EXPECT_TRUE(IsLogLine(lines[1], "  1   Copying C:\\a b\\x.txt -> " + dest + "a b\\x.txt"))
      << lines[1];
  EXPECT_TRUE(IsLogLine(lines[2], "  3   Copying back")) << lines[2];

  // A reader that shares writing (as Notepad does) can open the log mid-job, and the
  // lines go on landing meanwhile.
  HANDLE reader = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  WriteLog("while read");
  CloseHandle(reader);
  // Taken without sharing by someone else while it was closed: that line is lost, the
  // next one lands.
  writer.Close();
  HANDLE holder = CreateFileA(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  WriteLog("while held");
  CloseHandle(holder);
  WriteLog("after");
  lines = Lines(ReadFileText(log));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(IsLogLine(lines[3], "while read")) << lines[3];
  EXPECT_TRUE(IsLogLine(lines[4], "after")) << lines[4];

  // The log's folder is gone: nothing is written and nothing fails.
  SetLogFilePath(dir / "gone\\Stowly.log");
  WriteLog("nowhere");
  EXPECT_FALSE(Exists(dir / "gone"));
}

TEST_F(Log, ThreeThreadsWritingAtOnceLoseNoLine) {
  constexpr int kPerThread = 150;
  auto write = [&](char tag) {
    for (int i = 0; i < kPerThread; ++i)
      WriteLog("  " + std::to_string(i) + "   " + std::string(1, tag) + std::string(200, tag));
  };
  std::thread a(write, 'a'), b(write, 'b');
  for (int i = 0; i < kPerThread; ++i) WriteLog("  " + std::to_string(i) + "   u");
  a.join();
  b.join();
  std::vector<std::string> lines = Lines(ReadFileText(log));
  ASSERT_EQ(lines.size(), 3u * kPerThread);
  int next[3] = {0, 0, 0};
  for (const std::string& line : lines) {
    ASSERT_GE(line.size(), 24u);
    std::string text = line.substr(24);
    char tag = text.back();
    int who = tag == 'a' ? 0 : tag == 'b' ? 1 : 2;
    std::string body = who < 2 ? std::string(1, tag) + std::string(200, tag) : "u";
    // Each thread's lines are whole and in its own order.
    EXPECT_TRUE(IsLogLine(line, "  " + std::to_string(next[who]) + "   " + body)) << line;
    ++next[who];
  }
}

TEST_F(Log, SizeRuleKeepsALogOfExactlyTheLimitLess140AndDeletesOneByteMore) {
  SetLogging(false);  // the rule applies whether or not logging is on
  writer.ApplySizeRule(1000);
  EXPECT_FALSE(Exists(log)) << "no log: nothing is created";

  const std::string separator = std::string(140, '-') + "\r\n";
  std::string content(858, 'x');
  content += "\r\n";
  ASSERT_EQ(content.size(), 860u);
  ASSERT_TRUE(WriteFileText(log, content));
  writer.ApplySizeRule(1000);
  ASSERT_TRUE(Exists(log));
  EXPECT_EQ(ReadFileText(log), content + separator);

  ASSERT_TRUE(WriteFileText(log, content + "y"));
  writer.ApplySizeRule(1000);
  EXPECT_FALSE(Exists(log));

  // After a deletion the next line starts a new file.
  SetLogging(true);
  WriteLog("Checking Destination Folder...");
  std::vector<std::string> lines = Lines(ReadFileText(log));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "Checking Destination Folder..."));
}

struct ShownBox {
  HWND owner;
  std::string text, caption;
  UINT flags;
};
std::vector<ShownBox> g_boxes;

int RecordBox(HWND owner, const char* text, const char* caption, UINT flags) {
  g_boxes.push_back({owner, text, caption, flags});
  return IDOK;
}

struct FoundWindow {
  HWND window = nullptr;
};

BOOL CALLBACK FindLogViewer(HWND window, LPARAM found) {
  char title[512] = {};
  GetWindowTextA(window, title, sizeof title);
  if (std::string(title).find("Stowly.log") != std::string::npos) {
    reinterpret_cast<FoundWindow*>(found)->window = window;
    return FALSE;
  }
  return TRUE;
}

TEST_F(Log, ViewLogOpensNotepadOrSaysThereIsNoLog) {
  ASSERT_TRUE(WriteFileText(dir / "Stowly.ini",
                            "[Main Settings]\r\nDestinationFolder=" + dest + "\r\nLogFile=1\r\n"));
  ASSERT_TRUE(OpenMainWindow(dir / "Stowly.ini"));
  auto viewLog = [] { SendMessageA(MainControlHandle(kViewLogButton), BM_CLICK, 0, 0); };
  g_messageBoxHook = RecordBox;
  g_boxes.clear();
  viewLog();
  g_messageBoxHook = nullptr;
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].owner, nullptr);
  EXPECT_EQ(g_boxes[0].text, "Sorry, no log file found!");
  EXPECT_EQ(g_boxes[0].caption, "Dadiro Vodazo Status...");
  EXPECT_EQ(g_boxes[0].flags, 0x12000u);

  // The path has a blank and goes to Notepad unquoted; Notepad takes the whole rest.
  WriteLog("line");
  ASSERT_TRUE(Exists(log));
  g_boxes.clear();
  g_messageBoxHook = RecordBox;
  viewLog();
  g_messageBoxHook = nullptr;
  EXPECT_TRUE(g_boxes.empty());
  FoundWindow found;
  for (int waited = 0; waited < 30000 && !found.window; waited += 100) {
    PumpFor(100);
    EnumWindows(FindLogViewer, reinterpret_cast<LPARAM>(&found));
  }
  ASSERT_TRUE(found.window) << "no Notepad window with the log came up";
  char title[512] = {};
  GetWindowTextA(found.window, title, sizeof title);
  EXPECT_EQ(std::string(title).find("Stowly.log"), 0u) << title;
  DWORD pid = 0;
  GetWindowThreadProcessId(found.window, &pid);
  if (HANDLE notepad = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
    TerminateProcess(notepad, 0);
    WaitForSingleObject(notepad, 10000);
    CloseHandle(notepad);
  }
  CloseMainWindow();
}

}  // namespace
