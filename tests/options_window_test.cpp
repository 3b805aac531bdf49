#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "engine/job_state.h"
#include "tests/support.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/main_window.h"
#include "ui/options_window.h"

namespace {

constexpr int kFullMirror = 1000, kFastMirror = 1001, kDeleteFiles = 1003, kArchiveBit = 1004,
              kSizeBox = 1006;

using Step = std::function<void(HWND form)>;

// The options window is modal: ShowOptionsWindow runs its own loop until the window is
// gone. A thread timer feeds that loop one step per tick, so whatever a step posts (keys,
// characters) is handled by the real loop before the next step runs.
struct Script {
  std::vector<Step> steps;
  size_t next = 0;
  int ticksAfterLast = 0;
  bool timedOut = false;
};
Script* g_script = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND form = FindWindowA("FORM_STOWLY_OPTIONS_CLASS", nullptr);
  if (!form) return;
  if (g_script->next < g_script->steps.size()) {
    g_script->steps[g_script->next++](form);
  } else if (++g_script->ticksAfterLast > 250) {
    g_script->timedOut = true;
    DestroyWindow(form);
  }
}

// parent 0: open the window the user's way, with the main window's Options button.
int RunOptions(HWND parent, std::vector<Step> steps, bool copying = false) {
  Script script{std::move(steps)};
  g_script = &script;
  UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
  int result =
      parent ? ShowOptionsWindow(parent, copying)
             : static_cast<int>(SendMessageA(MainControlHandle(kOptionsButton), BM_CLICK, 0, 0));
  KillTimer(nullptr, timer);
  g_script = nullptr;
  EXPECT_FALSE(script.timedOut) << "the script left the options window open";
  EXPECT_EQ(script.next, script.steps.size()) << "not every step ran";
  return result;
}

HWND Item(HWND form, int id) { return GetDlgItem(form, id); }

void Click(HWND form, int id) { SendMessageA(Item(form, id), BM_CLICK, 0, 0); }

void PostKey(WPARAM key) {
  HWND focus = GetFocus();
  PostMessageA(focus, WM_KEYDOWN, key, 1);
  PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

void Type(const std::string& text) {
  HWND focus = GetFocus();
  for (char c : text) PostMessageA(focus, WM_CHAR, static_cast<WPARAM>(c), 1);
}

struct Choice {
  int deleteFiles, archiveBit, fullMirror;
};

Choice Shown(HWND form) {
  return {IsChecked(Item(form, kDeleteFiles)), IsChecked(Item(form, kArchiveBit)),
          IsChecked(Item(form, kFullMirror)) ? 1 : (IsChecked(Item(form, kFastMirror)) ? 0 : -1)};
}

class OptionsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = OpenMainWindow(ini_);
    ASSERT_TRUE(main_);
  }
  void TearDown() override { CloseMainWindow(); }
  void SetSettings(int fullMirror, int archiveBit, int deleteFiles, int maxLogSize) {
    g_settings.FullMirror = fullMirror;
    g_settings.UseArchiveBit = archiveBit;
    g_settings.DeleteFiles = deleteFiles;
    g_settings.MaxLogSize = maxLogSize;
  }

  ScratchDir dir_;
  std::string ini_ = dir_ / "Stowly.ini";
  HWND main_ = nullptr;
};

TEST_F(OptionsWindow, TabWalksTheWindowWhileTheMainWindowWaits) {
  bool mainDisabled = false;
  std::vector<int> tabOrder;
  auto recordFocusAndTab = [&](HWND) {
    tabOrder.push_back(GetDlgCtrlID(GetFocus()));
    PostKey(VK_TAB);
  };
  std::vector<Step> steps = {[&](HWND form) {
    mainDisabled = !IsWindowEnabled(main_);
    EXPECT_EQ(GetWindow(form, GW_OWNER), main_);
  }};
  steps.insert(steps.end(), 8, recordFocusAndTab);
  steps.push_back([](HWND form) { Click(form, IDCANCEL); });
  RunOptions(nullptr, steps);
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(tabOrder, (std::vector<int>{kFullMirror, kDeleteFiles, kArchiveBit, kSizeBox, IDOK,
                                        IDCANCEL, kFullMirror, kDeleteFiles}));
}

TEST_F(OptionsWindow, OpensShowingTheStoredSettings) {
  struct Case {
    int fullMirror, archiveBit, deleteFiles, maxLogSize;
    Choice shown;
    const char* size;
  };
  const Case cases[] = {
      {1, 0, 0, 104857600, {0, 0, 1}, "100"},
      {1, 0, 1, 104857600, {1, 0, 1}, "100"},
      {1, 1, 0, 1048576, {0, 1, 1}, "1"},
      {1, 1, 1, 1047527424, {1, 1, 1}, "999"},
      {0, 0, 0, 1572864, {0, 0, 0}, "1.5"},
      {0, 0, 1, 0, {1, 0, 0}, "0"},
      {0, 1, 0, 104857601, {0, 1, 0}, "100.000000953674"},
      {0, 1, 1, 1, {1, 1, 0}, "0.00000095367431640625"},
      // Only exactly 1 counts as on; any other stored number shows as off.
      {2, 2, 2, 104857600, {0, 0, 0}, "100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.fullMirror << c.archiveBit << c.deleteFiles << " " << c.maxLogSize);
    SetSettings(c.fullMirror, c.archiveBit, c.deleteFiles, c.maxLogSize);
    RunOptions(main_, {[&](HWND form) {
                 Choice shown = Shown(form);
                 EXPECT_EQ(shown.deleteFiles, c.shown.deleteFiles);
                 EXPECT_EQ(shown.archiveBit, c.shown.archiveBit);
                 EXPECT_EQ(shown.fullMirror, c.shown.fullMirror);
                 EXPECT_NE(IsChecked(Item(form, kFullMirror)), IsChecked(Item(form, kFastMirror)));
                 EXPECT_EQ(GetText(Item(form, kSizeBox)), c.size);
                 EXPECT_TRUE(IsWindowEnabled(Item(form, IDOK)));
                 EXPECT_EQ(GetDlgCtrlID(GetFocus()), kFullMirror);
                 Click(form, IDCANCEL);
               }});
  }
}

TEST_F(OptionsWindow, ClicksCoupleTheModeAndTheArchiveBit) {
  SetSettings(1, 0, 1, 104857600);
  RunOptions(main_, {[&](HWND form) {
               // Fast Mirror needs the archive bit: choosing it checks the box.
               Click(form, kFastMirror);
               Choice c = Shown(form);
               EXPECT_EQ(c.fullMirror, 0);
               EXPECT_EQ(c.archiveBit, 1);

               // Giving up the archive bit in Fast Mirror falls back to Full Mirror.
               Click(form, kArchiveBit);
               c = Shown(form);
               EXPECT_EQ(c.archiveBit, 0);
               EXPECT_EQ(c.fullMirror, 1);

               // Checking it again changes nothing else.
               Click(form, kArchiveBit);
               c = Shown(form);
               EXPECT_EQ(c.archiveBit, 1);
               EXPECT_EQ(c.fullMirror, 1);

               // In Full Mirror, unchecking it keeps Full Mirror.
               Click(form, kArchiveBit);
               c = Shown(form);
               EXPECT_EQ(c.archiveBit, 0);
               EXPECT_EQ(c.fullMirror, 1);

               // Full Mirror leaves the box alone; so do programmatic checks.
               Click(form, kFullMirror);
               EXPECT_EQ(Shown(form).archiveBit, 0);
               SendMessageA(Item(form, kFastMirror), BM_SETCHECK, BST_CHECKED, 0);
               EXPECT_EQ(IsChecked(Item(form, kArchiveBit)), 0);
               SendMessageA(Item(form, kFastMirror), BM_SETCHECK, BST_UNCHECKED, 0);

               // The two options are one group: a click on either unchecks the other.
               Click(form, kFastMirror);
               EXPECT_EQ(IsChecked(Item(form, kFullMirror)), 0);
               Click(form, kFullMirror);
               EXPECT_EQ(IsChecked(Item(form, kFastMirror)), 0);
               EXPECT_EQ(Shown(form).deleteFiles, 1) << "the couplings never touch it";
               Click(form, IDCANCEL);
             }});
}

TEST_F(OptionsWindow, LogSizeBoxRoundTrips) {
  // Typed text: digits only, three at most; "250" stores 250 MiB.
  SetSettings(1, 0, 1, 104857600);
  std::string typed;
  int result = RunOptions(main_, {[&](HWND form) {
                                    EXPECT_EQ(GetText(Item(form, kSizeBox)), "100");
                                    SetFocus(Item(form, kSizeBox));
                                    Type("a2x5-01");
                                  },
                                  [&](HWND form) {
                                    typed = GetText(Item(form, kSizeBox));
                                    SendMessageA(Item(form, kSizeBox), EM_SETSEL, 0, -1);
                                    Type("250");
                                  },
                                  [&](HWND form) { Click(form, IDOK); }});
  EXPECT_EQ(typed, "250");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_settings.MaxLogSize, 262144000);
  EXPECT_EQ(ReadSetting("MaxLogSize", ""), "262144000");

  // Sizes that are not whole MiB survive an Ok untouched.
  for (int bytes : {1572864, 104857601, 1, 1047527424}) {
    SCOPED_TRACE(bytes);
    g_settings.MaxLogSize = bytes;
    RunOptions(main_, {[&](HWND form) { Click(form, IDOK); }});
    EXPECT_EQ(g_settings.MaxLogSize, bytes);
    EXPECT_EQ(ReadSetting("MaxLogSize", ""), NumberText(bytes));
  }

  // An emptied box, and pasted text the keyboard cannot produce: tabbing away shows "1"
  // for zero or below, and Enter with the focus still in the box stores 1 MiB for them.
  // Fractions and trailing junk follow the number parsing (".5" reads as 0 when tabbing
  // away, yet stores half a MiB).
  struct Pasted {
    const char* text;
    const char* afterTab;
    int stored;
  };
  const Pasted pasted[] = {
      {"", "1", 1048576},      {"-5", "1", 1048576},  {"0", "1", 1048576},
      {"000", "1", 1048576},   {"abc", "1", 1048576}, {"0.4", "1", 419430},
      {"7mb", "7mb", 7340032}, {".5", "1", 524288},   {"1.5", "1.5", 1572864},
  };
  for (const Pasted& p : pasted) {
    SCOPED_TRACE(p.text);
    std::string shown;
    RunOptions(main_, {[&](HWND form) {
                         SetFocus(Item(form, kSizeBox));
                         SetText(Item(form, kSizeBox), p.text);
                         PostKey(VK_TAB);
                       },
                       [&](HWND form) {
                         shown = GetText(Item(form, kSizeBox));
                         Click(form, IDCANCEL);
                       }});
    EXPECT_EQ(shown, p.afterTab);
    RunOptions(main_, {[&](HWND form) {
                 SetFocus(Item(form, kSizeBox));
                 SetText(Item(form, kSizeBox), p.text);
                 PostKey(VK_RETURN);
               }});
    EXPECT_EQ(g_settings.MaxLogSize, p.stored);
  }
}

TEST_F(OptionsWindow, OkWritesTheFourKeysInOrder) {
  ASSERT_TRUE(WriteFileText(ini_, "[Main Settings]\r\nDestinationFolder=E:\\Backup\\\r\n"));
  SetSettings(1, 0, 1, 104857600);
  int result = RunOptions(main_, {[&](HWND form) {
                                    Click(form, kDeleteFiles);
                                    Click(form, kFastMirror);
                                    SetText(Item(form, kSizeBox), "12");
                                  },
                                  [&](HWND form) {
                                    EXPECT_FALSE(IsWindowEnabled(main_));
                                    Click(form, IDOK);
                                  }});
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(GetActiveWindow(), main_);
  EXPECT_FALSE(FindWindowA("FORM_STOWLY_OPTIONS_CLASS", nullptr));
  EXPECT_EQ(g_settings.DeleteFiles, 0);
  EXPECT_EQ(g_settings.UseArchiveBit, 1);
  EXPECT_EQ(g_settings.FullMirror, 0);
  EXPECT_EQ(g_settings.MaxLogSize, 12582912);
  std::string ini = ReadFileText(ini_);
  size_t at = ini.find("DestinationFolder=E:\\Backup\\");
  EXPECT_NE(at, std::string::npos);
  for (const char* line :
       {"DeleteFiles=0", "UseArchiveBit=1", "FullMirror=0", "MaxLogSize=12582912"}) {
    size_t next = ini.find(line);
    ASSERT_NE(next, std::string::npos) << line << " in " << ini;
    EXPECT_GT(next, at) << line << " is out of order in " << ini;
    at = next;
  }

  // Back to Full Mirror with everything on.
  result = RunOptions(main_, {[&](HWND form) {
                        Click(form, kDeleteFiles);
                        Click(form, kFullMirror);
                        Click(form, IDOK);
                      }});
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_settings.FullMirror, 1);
  EXPECT_EQ(g_settings.DeleteFiles, 1);
  EXPECT_EQ(ReadSetting("FullMirror", ""), "1");
  EXPECT_EQ(ReadSetting("DeleteFiles", ""), "1");
  EXPECT_EQ(ReadSetting("UseArchiveBit", ""), "1");
  EXPECT_EQ(ReadSetting("MaxLogSize", ""), "12582912");
}

TEST_F(OptionsWindow, CancelEscapeAndCloseBoxStoreNothing) {
  const std::string before = "[Main Settings]\r\nFullMirror=0\r\nUseArchiveBit=1\r\n";
  ASSERT_TRUE(WriteFileText(ini_, before));
  auto changeEverything = [](HWND form) {
    Click(form, kFullMirror);
    Click(form, kDeleteFiles);
    Click(form, kArchiveBit);
    SetText(Item(form, kSizeBox), "7");
  };
  const std::vector<std::pair<const char*, Step>> ways = {
      {"Cancel button", [](HWND form) { Click(form, IDCANCEL); }},
      {"Esc", [](HWND form) { SetFocus(Item(form, kSizeBox)), PostKey(VK_ESCAPE); }},
      {"title-bar close", [](HWND form) { SendMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Enter on the Cancel button",
       [](HWND form) { SetFocus(Item(form, IDOK)), PostKey(VK_TAB); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    SetSettings(0, 1, 0, 5242880);
    std::vector<Step> steps = {changeEverything, close};
    if (std::string(name) == "Enter on the Cancel button")
      steps.push_back([](HWND form) {
        EXPECT_EQ(GetFocus(), Item(form, IDCANCEL));
        PostKey(VK_RETURN);
      });
    int result = RunOptions(main_, steps);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFileText(ini_), before);
    EXPECT_EQ(g_settings.FullMirror, 0);
    EXPECT_EQ(g_settings.UseArchiveBit, 1);
    EXPECT_EQ(g_settings.DeleteFiles, 0);
    EXPECT_EQ(g_settings.MaxLogSize, 5242880);
    EXPECT_TRUE(IsWindowEnabled(main_));
    EXPECT_FALSE(FindWindowA("FORM_STOWLY_OPTIONS_CLASS", nullptr));
  }
}

TEST_F(OptionsWindow, OkIsDisabledWhileACopyWorkerRuns) {
  ASSERT_TRUE(WriteFileText(ini_, "[Main Settings]\r\n"));
  SetSettings(1, 0, 1, 104857600);
  bool stillOpen = false;
  int result = RunOptions(main_,
                          {[&](HWND form) {
                             EXPECT_FALSE(IsWindowEnabled(Item(form, IDOK)));
                             Click(form, kFastMirror);
                             SetFocus(Item(form, kSizeBox));
                             PostKey(VK_RETURN);
                           },
                           [&](HWND form) {
                             Click(form, IDOK);
                             stillOpen = IsWindow(form);
                             Click(form, IDCANCEL);
                           }},
                          true);
  EXPECT_TRUE(stillOpen) << "Enter or a click on the disabled Ok closed the window";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_settings.FullMirror, 1);
  EXPECT_EQ(ReadFileText(ini_), "[Main Settings]\r\n");

  // Once the worker is idle again, a newly opened window can save.
  RunOptions(main_, {[&](HWND form) {
               EXPECT_TRUE(IsWindowEnabled(Item(form, IDOK)));
               Click(form, IDCANCEL);
             }});
}

}  // namespace
