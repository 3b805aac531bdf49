// Times the engine's hot paths under Wine next to the plain Win32 work they are built on,
// so a slow figure can be traced to the engine or to the platform. Run by scripts/bench.sh:
//
//   engine_bench listing OUT TREE SCRATCH REPS   ListFiles against bare directory walks
//   engine_bench memory  OUT ENTRIES             master list bytes against its path text
//   engine_bench log     OUT SCRATCH LINES REPS  the log writer against plain appends
//   engine_bench calls   OUT SCRATCH COUNT REPS  per-call cost of the work a file costs
//   engine_bench pauses  OUT COUNT               what the 5 and 10 ms pauses really take
//
// Each figure is one line "metric<TAB>rep<TAB>value<TAB>unit" in OUT. The exit code is 0,
// or 3 when the engine's result was wrong (a listing that missed files, lost log lines).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/file_list.h"
#include "engine/fs.h"
#include "engine/job_progress.h"
#include "engine/job_rules.h"
#include "engine/log_file.h"
#include "engine/path_identity.h"
#include "engine/settings.h"
#include "ui/controls.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using OutFile = std::unique_ptr<FILE, FileCloser>;

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

FILE* g_out = nullptr;
bool g_wrong = false;

void Report(const char* metric, int rep, double value, const char* unit) {
  fprintf(g_out, "%s\t%d\t%.6f\t%s\n", metric, rep, value, unit);
  fflush(g_out);
}

void Wrong(const std::string& what) {
  fprintf(g_out, "wrong\t0\t0\t%s\n", what.c_str());
  fflush(g_out);
  g_wrong = true;
}

double Seconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Handles every message waiting for this thread, as a window's loop would between waits.
void PumpWaiting() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// A bare window of the given class, for the cost of the messages the window side takes.
HWND PlainWindow(const char* className) {
  return CreateWindowExA(0, className, "", WS_OVERLAPPED, 0, 0, 200, 200, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

enum class WalkKind { kBare, kAttributes };

// Depth first like ListFiles: a folder's files, then each subfolder's subtree in turn.
void Walk(const std::string& folder, WalkKind kind, std::vector<std::string>& out) {
  std::vector<std::string> subfolders;
  WIN32_FIND_DATAA data;
  {
    FindHandle find(FindFirstFileA((folder + "*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) return;
    do {
      if (!strcmp(data.cFileName, ".") || !strcmp(data.cFileName, "..")) continue;
      std::string path = folder + data.cFileName;
      DWORD attributes =
          kind == WalkKind::kBare ? data.dwFileAttributes : GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        subfolders.push_back(path + "\\");
        continue;
      }
      out.push_back(std::move(path));
    } while (FindNextFileA(find.get(), &data));
  }
  for (const std::string& sub : subfolders) Walk(sub, kind, out);
}

// Bytes the list asked the heap for: its slots plus every string buffer outside the
// small-string buffer.
double RequestedBytes(const std::vector<std::string>& list, double& textBytes) {
  double bytes = static_cast<double>(list.capacity() * sizeof(std::string));
  textBytes = 0;
  for (const std::string& s : list) {
    textBytes += static_cast<double>(s.size());
    if (s.capacity() > 15) bytes += static_cast<double>(s.capacity() + 1);
  }
  return bytes;
}

int RunListing(const std::string& tree, const std::string& scratch, int reps) {
  // Nobody takes the progress: the figures are the engine's own.
  JobProgress progress;
  const std::string noDestination = WithBackslash(scratch) + "no-destination\\";
  SetLogFilePath(WithBackslash(scratch) + "Stowly.log");
  std::vector<std::string> list(1);
  std::string root = WithBackslash(tree);

  std::vector<std::string> warm;
  Walk(root, WalkKind::kBare, warm);
  const int expected = static_cast<int>(warm.size());
  Report("walk_files", 0, expected, "files");

  // Fast Mirror against the drive root as destination: every folder is its own copy, so
  // the listing reads each folder twice, as it would read a source and its copy.
  const char* names[] = {"listfiles_s", "walk_bare_s", "walk_attributes_s", "listfiles_fast_s"};
  constexpr int kVariants = 4;
  for (int rep = 1; rep <= reps; ++rep) {
    for (int step = 0; step < kVariants; ++step) {
      int which = (step + rep - 1) % kVariants;
      double start = 0, seconds = 0;
      int count = 0;
      if (which == 0 || which == 3) {
        std::string destination = which == 0 ? noDestination : root.substr(0, 3);
        list.assign(1, std::string());
        start = Seconds();
        count = ListFiles(progress, root, list, 0,
                          {ListingMode::kSource, destination, false, which == 0});
        seconds = Seconds() - start;
      } else {
        std::vector<std::string> out;
        start = Seconds();
        Walk(root, static_cast<WalkKind>(which - 1), out);
        seconds = Seconds() - start;
        count = static_cast<int>(out.size());
      }
      Report(names[which], rep, seconds, "s");
      if (count != expected)
        Wrong(std::string(names[which]) + " listed " + std::to_string(count) + " of " +
              std::to_string(expected) + " files");
    }
  }
  double text = 0;
  double requested = RequestedBytes(list, text);
  Report("listfiles_list_requested_bytes", 0, requested, "bytes");
  Report("listfiles_list_text_bytes", 0, text, "bytes");
  return g_wrong ? 3 : 0;
}

size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

// One process per repetition (the script runs this mode several times), so freed heap
// pages of an earlier list never make a later one look smaller.
int RunMemory(int entries) {
  static const char* const kUsers[] = {"Lena Fischer", "mark", "Administrator", "j.okafor"};
  static const char* const kTops[] = {"Documents", "Pictures", "Desktop", "Music", "Projects"};
  static const char* const kWords[] = {"Invoices", "Client ",  "Reports", "Holiday ", "Scans",
                                       "Drafts",   "Archive ", "Budget ", "Thesis",   "Photos "};
  static const char* const kNames[] = {"Quarterly report ", "IMG_",   "invoice-",
                                       "Meeting notes ",    "scan",   "track ",
                                       "budget_",           "draft v"};
  static const char* const kExts[] = {".docx", ".jpg", ".pdf", ".txt", ".xlsx", ".mp3", ".png"};
  std::mt19937 rng(20240607);
  auto pick = [&rng](auto& table) { return table[rng() % (sizeof table / sizeof table[0])]; };

  size_t before = WorkingSet();
  // Grown one entry at a time, each the folder joined with a fresh name string, as a
  // listing fills it.
  std::vector<std::string> list{std::string()};
  std::string folder;
  for (int k = 0; k < entries; ++k) {
    if (k % 50 == 0) {
      folder = std::string("C:\\Users\\") + pick(kUsers) + "\\" + pick(kTops) + "\\" +
               pick(kWords) + std::to_string(rng() % 400) + "\\" +
               std::to_string(2000 + rng() % 25) + "\\";
      if (rng() % 3 == 0) folder += std::string(pick(kWords)) + "old\\";
    }
    char name[64];
    snprintf(name, sizeof name, "%s%u%s", pick(kNames), static_cast<unsigned>(rng() % 100000),
             pick(kExts));
    list.resize(static_cast<size_t>(k) + 1);
    list[static_cast<size_t>(k)] = folder + std::string(name);
  }
  size_t after = WorkingSet();
  double text = 0;
  double requested = RequestedBytes(list, text);
  Report("memory_entries", 0, static_cast<double>(list.size()), "entries");
  Report("memory_text_bytes", 0, text, "bytes");
  Report("memory_working_set_bytes", 0, static_cast<double>(after - before), "bytes");
  Report("memory_requested_bytes", 0, requested, "bytes");
  return 0;
}

std::string g_logText;
LogWriter* g_writer = nullptr;

void AppendOpenClose(const std::string& path, const std::string& line) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file.get(), 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int CountLines(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return 0;
  int lines = 0;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    for (DWORD i = 0; i < got; ++i) lines += buffer[i] == '\n' ? 1 : 0;
  return lines;
}

using WorkerBody = void (*)();
WorkerBody g_workerBody = nullptr;
std::atomic<int> g_workerCount{0};
std::atomic<int> g_workerDone{0};

DWORD WINAPI WorkerThread(LPVOID) {
  for (int i = 0, n = g_workerCount; i < n; ++i) g_workerBody();
  g_workerDone = 1;
  return 0;
}

// Runs body count times on a second thread while this, the user-interface thread, waits
// for it between pump steps: with a wait that also wakes for messages sent to it, or with
// plain 10 ms sleeps.
void RunOnWorker(WorkerBody body, int count, bool plainSleeps) {
  g_workerBody = body;
  g_workerCount = count;
  g_workerDone = 0;
  Handle thread(CreateThread(nullptr, 1048576, WorkerThread, nullptr, 0, nullptr));
  if (!thread) return;
  while (!g_workerDone) {
    if (plainSleeps)
      Sleep(10);
    else
      MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    PumpWaiting();
  }
  WaitForSingleObject(thread.get(), INFINITE);
}

int RunLog(const std::string& scratch, int lines, int reps) {
  std::string folder = WithBackslash(scratch);
  std::string path = folder + "Stowly.log";
  LogWriter writer;
  g_writer = &writer;
  SetLogFilePath(path);
  g_logText = "  12345   Copying " + folder +
              "Projects\\Client 042\\Quarterly report 0042.docx -> " + folder +
              "backup\\Projects\\Client 042\\Quarterly report 0042.docx";
  std::string plainLine = "12-06-2026   16:05:09   " + g_logText + "\r\n";
  // Fewer lines from the second thread keep these runs short.
  const int workerLines = lines / 20 > 50 ? lines / 20 : 50;

  const char* names[] = {"writelog_lines_per_s", "append_open_close_lines_per_s",
                         "append_one_handle_lines_per_s", "writelog_worker_sleep_lines_per_s",
                         "writelog_worker_msgwait_lines_per_s"};
  constexpr int kVariants = 5;
  for (int rep = 1; rep <= reps; ++rep) {
    for (int step = 0; step < kVariants; ++step) {
      int which = (step + rep - 1) % kVariants;
      writer.Close();  // the writer holds the log between lines
      DeleteFileA(path.c_str());
      int n = which >= 3 ? workerLines : lines;
      double start = Seconds();
      if (which == 0) {
        for (int i = 0; i < n; ++i) writer.Write(g_logText);
      } else if (which == 1) {
        for (int i = 0; i < n; ++i) AppendOpenClose(path, plainLine);
      } else if (which == 2) {
        Handle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        for (int i = 0; i < n; ++i)
          WriteFile(file.get(), plainLine.data(), static_cast<DWORD>(plainLine.size()), &written,
                    nullptr);
      } else {
        RunOnWorker([] { g_writer->Write(g_logText); }, n, which == 3);
      }
      writer.Close();
      double seconds = Seconds() - start;
      Report(names[which], rep, n / seconds, "lines/s");
      int got = CountLines(path);
      if (got != n)
        Wrong(std::string(names[which]) + " wrote " + std::to_string(got) + " of " +
              std::to_string(n) + " lines");
    }
  }
  DeleteFileA(path.c_str());
  g_writer = nullptr;
  return g_wrong ? 3 : 0;
}

std::atomic<size_t> g_sink{0};
HWND g_status = nullptr;

// Microseconds per call of the platform work behind one file: what the listing does per
// file and per folder, what the copy worker sends across threads, one small copy.
int RunCalls(const std::string& scratch, int count, int reps) {
  std::string folder = WithBackslash(scratch);
  HWND box = PlainWindow("Edit");
  g_status = PlainWindow("ListBox");
  if (!box || !g_status) {
    Wrong("the window controls could not be created");
    return 3;
  }
  SetText(box, folder);
  const std::string present = folder + "present.txt";
  AppendOpenClose(present, std::string(100, 'x'));
  const std::string missing = folder + "missing\\file.txt";
  const std::string copies = folder + "copies\\";
  CreateDirectoryA(copies.c_str(), nullptr);
  HWND status = g_status;
  ListAdd(status, "Getting list of files from source...");
  const int copyCount = count / 4 > 10 ? count / 4 : 10;

  const char* names[] = {"call_destination_box_read_us", "call_quiet_errors_us",
                         "call_attributes_missing_us",   "call_attributes_present_us",
                         "call_status_line_and_pump_us", "call_worker_send_us",
                         "call_copy_small_file_us"};
  constexpr int kVariants = 7;
  for (int rep = 1; rep <= reps; ++rep) {
    for (int step = 0; step < kVariants; ++step) {
      int which = (step + rep - 1) % kVariants;
      int n = which == 6 ? copyCount : count;
      double start = Seconds();
      for (int i = 0; i < n && which != 5; ++i) {
        if (which == 0) {
          g_sink += GetText(box).size();
        } else if (which == 1) {
          QuietErrors quiet;
        } else if (which == 2) {
          g_sink += GetFileAttributesA(missing.c_str());
        } else if (which == 3) {
          g_sink += GetFileAttributesA(present.c_str());
        } else if (which == 4) {
          ListReplace(status, ListCount(status) - 1,
                      "Getting list of files from source..." + std::to_string(i) + " Files Found",
                      0);
          PumpWaiting();
        } else {
          CopyFileA(present.c_str(), (copies + std::to_string(i) + ".txt").c_str(), FALSE);
        }
      }
      if (which == 5) RunOnWorker([] { g_sink += ListCount(g_status); }, n, false);
      Report(names[which], rep, (Seconds() - start) * 1e6 / n, "us");
      if (which == 6) {
        for (int i = 0; i < n; ++i) DeleteFileA((copies + std::to_string(i) + ".txt").c_str());
        if (GetFileAttributesA(copies.c_str()) == INVALID_FILE_ATTRIBUTES)
          Wrong("copy folder vanished");
      }
    }
  }
  RemoveDirectoryA(copies.c_str());
  DeleteFileA(present.c_str());
  DestroyWindow(box);
  DestroyWindow(g_status);
  return g_wrong ? 3 : 0;
}

int RunPauses(int count) {
  for (DWORD ms : {5u, 10u}) {
    double start = Seconds();
    for (int i = 0; i < count; ++i) Sleep(ms);
    double each = (Seconds() - start) * 1000.0 / count;
    Report(ms == 5 ? "pause_sleep5_ms" : "pause_sleep10_ms", 0, each, "ms");
  }
  // The copy worker's own pause: a high-resolution waitable timer where there is one.
  Handle timer(CreateWaitableTimerExW(nullptr, nullptr, 0x00000002, TIMER_ALL_ACCESS));
  if (timer) {
    double start = Seconds();
    for (int i = 0; i < count; ++i) {
      LARGE_INTEGER due;
      due.QuadPart = -50000;
      SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE);
      WaitForSingleObject(timer.get(), 1000);
    }
    Report("pause_timer5_ms", 0, (Seconds() - start) * 1000.0 / count, "ms");
  }
  return 0;
}

// The configuration check a job starts with, over `sources` source folders whose copies
// exist in the destination (the second and later runs of a backup).
int RunCheck(const std::string& scratch, int sources, int reps) {
  const std::string root = WithBackslash(scratch) + "check\\";
  std::vector<std::string> paths;
  for (int i = 0; i < sources; ++i) {
    std::string source = root + "s" + std::to_string(i) + "\\data\\";
    MakeFolderPath(source);
    MakeFolderPath(DestinationPath(root + "dest\\", source));
    paths.push_back(source);
  }
  for (int rep = 1; rep <= reps; ++rep) {
    double start = Seconds();
    if (IsIllegalConfiguration(root + "dest\\", paths)) Wrong("a legal configuration was refused");
    Report("check_sources_ms", rep, (Seconds() - start) * 1000.0, "ms");
  }
  Report("check_sources", 0, sources, "folders");
  return g_wrong ? 3 : 0;
}

int Number(const char* text) { return atoi(text); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: engine_bench listing|memory|log|calls|pauses|check OUT ...\n");
    return 2;
  }
  std::string mode = argv[1];
  OutFile out(fopen(argv[2], "a"));
  if (!out) return 2;
  g_out = out.get();
  if (mode == "listing" && argc == 6) return RunListing(argv[3], argv[4], Number(argv[5]));
  if (mode == "memory" && argc == 4) return RunMemory(Number(argv[3]));
  if (mode == "log" && argc == 6) return RunLog(argv[3], Number(argv[4]), Number(argv[5]));
  if (mode == "calls" && argc == 6) return RunCalls(argv[3], Number(argv[4]), Number(argv[5]));
  if (mode == "pauses" && argc == 4) return RunPauses(Number(argv[3]));
  if (mode == "check" && argc == 6) return RunCheck(argv[3], Number(argv[4]), Number(argv[5]));
  fprintf(stderr, "engine_bench: bad arguments\n");
  return 2;
}
