// Folder trees and log reading for the tests that run whole backups.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support.h"

inline const std::string kCrLf = "\r\n";

using Files = std::map<std::string, std::string>;  // relative path -> content

inline void MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

inline void MakeFiles(const std::string& root, const Files& files) {
  MakeFolders(root);
  for (const auto& [name, content] : files) {
    MakeFolders(root + name);
    ASSERT_TRUE(WriteFileText(root + name, content)) << root + name;
  }
}

// Every file below root (recursively), by relative path, with its content; a link is not
// followed, so what it leads to is no part of the tree.
inline Files ReadTree(const std::string& root, const std::string& below = "") {
  Files files;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((root + below + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Files sub = ReadTree(root, below + name + "\\");
      files.insert(sub.begin(), sub.end());
    } else {
      files[below + name] = ReadFileText(root + below + name);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return files;
}

// Where the job puts the copy of a source path.
inline std::string CopyOf(const std::string& destination, const std::string& source) {
  return destination + source.substr(3);
}

inline std::vector<std::string> After(const std::vector<std::string>& texts,
                                      const std::string& marker) {
  for (size_t i = texts.size(); i-- > 0;)
    if (texts[i] == marker) return {texts.begin() + static_cast<long>(i) + 1, texts.end()};
  return texts;
}

inline std::set<std::string> CopyingLines(const std::vector<std::string>& texts) {
  std::set<std::string> lines;
  for (const std::string& t : texts)
    if (t.find("   Copying ") != std::string::npos) lines.insert(t);
  return lines;
}

// Built step by step: GCC 12 warns falsely about "literal" + std::to_string(i).
inline std::string Numbered(const char* head, int i, const char* tail) {
  std::string text = head;
  text += std::to_string(i);
  text += tail;
  return text;
}

inline std::string BigContent(size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 7 + i / 4093) & 0xFF);
  return content;
}

// The settings file of a job: one destination, the source folders, the mode.
struct Config {
  std::string destination;
  std::vector<std::string> sources;
  int fullMirror = 1;
  int useArchiveBit = 0;
  int deleteFiles = 1;
};

inline std::string IniText(const Config& c) {
  std::string ini = "[Main Settings]\r\nDestinationFolder=" + c.destination +
                    "\r\nLogFile=1\r\nNumDirs=" + std::to_string(c.sources.size()) + "\r\n";
  for (size_t i = 0; i < c.sources.size(); ++i)
    ini += "SourceFolder" + std::to_string(i + 1) + "=" + c.sources[i] + "\r\n";
  ini += "FullMirror=" + std::to_string(c.fullMirror) +
         "\r\nUseArchiveBit=" + std::to_string(c.useArchiveBit) +
         "\r\nDeleteFiles=" + std::to_string(c.deleteFiles) + "\r\n";
  return ini;
}
