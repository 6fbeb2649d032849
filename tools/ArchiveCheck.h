// Checks a "STOR" archive file byte by byte, independently of the archive class: the header,
// the directory, every extent inside the file and no two overlapping, names unique. For a
// document it also checks that "Index.xml" parses and that no page stream lies past its
// "PageCount". Used by `archive-tool check` and by the saving tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "document/XmlDocuments.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"

namespace kdcheck {

struct TCheckedEntry {
  std::string Name;
  int64_t Offset = 0, Size = 0;
};

inline uint64_t GetLE(const std::string& B, size_t At, int Bytes) {
  uint64_t v = 0;
  for (int i = Bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(B[At + size_t(i)]);
  return v;
}

// Problems found in the archive bytes (empty when sound); Entries receives the directory.
inline std::vector<std::string> CheckArchiveBytes(const std::string& B, std::vector<TCheckedEntry>* Entries = nullptr) {
  std::vector<std::string> p;
  const int64_t size = int64_t(B.size());
  if (size < 14) return {"file shorter than its header (" + std::to_string(size) + " bytes)"};
  if (B.compare(0, 4, "STOR") != 0) return {"no \"STOR\" magic"};
  if (B[4] == 0) return {"major version 0"};
  const auto dir = int64_t(GetLE(B, 6, 8));
  if (dir < 14 || dir > size - 4) return {"directory offset " + std::to_string(dir) + " outside the file"};
  const auto count = int32_t(GetLE(B, size_t(dir), 4));
  if (count < 0 || count > (size - dir - 4) / 20) return {"impossible entry count " + std::to_string(count)};
  std::vector<TCheckedEntry> entries;
  int64_t at = dir + 4;
  for (int32_t i = 0; i < count; ++i) {
    if (at > size - 20) return {"directory runs past the end of the file"};
    TCheckedEntry e;
    e.Offset = int64_t(GetLE(B, size_t(at), 8));
    e.Size = int64_t(GetLE(B, size_t(at + 8), 8));
    const auto len = int32_t(GetLE(B, size_t(at + 16), 4));
    at += 20;
    if (len < 0 || len > size - at) return {"directory runs past the end of the file"};
    e.Name = B.substr(size_t(at), size_t(len));
    at += len;
    entries.push_back(e);
  }
  struct Ext {
    int64_t Offset, Size;
    std::string Name;
  };
  std::vector<Ext> ext{{dir, at - dir, "(directory)"}};
  std::set<std::string> names;
  for (const auto& e : entries) {
    if (e.Name.empty()) p.push_back("a stream without a name");
    if (!names.insert(e.Name).second) p.push_back("two streams named \"" + e.Name + "\"");
    if (e.Size < 0) p.push_back("\"" + e.Name + "\" has a negative size");
    if (e.Size > 0) {
      if (e.Offset < 14 || e.Offset > size || e.Size > size - e.Offset)
        p.push_back("\"" + e.Name + "\" lies outside the file");
      else
        ext.push_back({e.Offset, e.Size, e.Name});
    }
  }
  std::sort(ext.begin(), ext.end(), [](const Ext& a, const Ext& b) { return a.Offset < b.Offset; });
  for (size_t i = 0; i + 1 < ext.size(); ++i)
    if (ext[i + 1].Offset < ext[i].Offset + ext[i].Size)
      p.push_back("\"" + ext[i].Name + "\" and \"" + ext[i + 1].Name + "\" overlap");
  if (Entries) *Entries = entries;
  return p;
}

inline std::string ReadAll(const std::string& File) {
  std::ifstream in(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The archive checks, then the document's: "Index.xml" parses, and every "Page%.4d.xml" and
// "Thumb%.4d.bmp" has a number from 1 to its "PageCount".
inline std::vector<std::string> CheckDocumentFile(const std::string& File) {
  const std::string bytes = ReadAll(File);
  std::vector<TCheckedEntry> entries;
  std::vector<std::string> p = CheckArchiveBytes(bytes, &entries);
  if (!p.empty()) return p;
  const TCheckedEntry* index = nullptr;
  for (const auto& e : entries)
    if (e.Name == "Index.xml") index = &e;
  if (!index) return {"no \"Index.xml\""};
  int32_t pages = 0;
  try {
    platform::TMemoryStream s;
    if (index->Size > 0) s.WriteBuffer(bytes.data() + index->Offset, int32_t(index->Size));
    s.SetPosition(0);
    document::TXmlDocument xml;
    xml.LoadFromStream(&s);
    pages = xml.Root()->ReadInteger("PageCount", 0);
  } catch (const platform::Exception& e) {
    return {"\"Index.xml\" does not parse: " + e.Message};
  }
  for (const auto& e : entries) {
    int32_t n = -1;
    if (e.Name.size() == 12 && e.Name.compare(0, 4, "Page") == 0 && e.Name.compare(8, 4, ".xml") == 0)
      n = std::atoi(e.Name.substr(4, 4).c_str());
    if (e.Name.size() == 13 && e.Name.compare(0, 5, "Thumb") == 0 && e.Name.compare(9, 4, ".bmp") == 0)
      n = std::atoi(e.Name.substr(5, 4).c_str());
    if (n >= 0 && (n < 1 || n > pages))
      p.push_back("\"" + e.Name + "\" lies past the page count " + std::to_string(pages));
  }
  return p;
}

}  // namespace kdcheck
