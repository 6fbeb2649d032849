// Inspects and edits "STOR" document archives from the command line, for tests and for
// looking into content files:
//   archive-tool list FILE                 streams with offsets and sizes, then free space
//   archive-tool extract FILE NAME [OUT]   a stream's bytes to OUT or to standard output
//   archive-tool put FILE NAME SRC         adds or replaces a stream from the file SRC
//   archive-tool delete FILE NAME
//   archive-tool compact FILE              into a copy renamed over FILE: never half moved
//   archive-tool check [--document] FILE   the file's bytes: header, directory, extents inside
//                                          the file and apart, names unique; with --document
//                                          also "Index.xml" and no page past its page count
// Exit status: 0 done, 1 bad archive or failed operation, 2 wrong usage.
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "document/SingleFileStorage.h"
#include "platform/Exceptions.h"
#include "platform/SysUtils.h"
#include "tools/ArchiveCheck.h"

using document::TSingleStorage;

namespace {

int Usage() {
  std::cerr << "usage: archive-tool list FILE\n"
               "       archive-tool extract FILE NAME [OUT]\n"
               "       archive-tool put FILE NAME SRC\n"
               "       archive-tool delete FILE NAME\n"
               "       archive-tool compact FILE\n"
               "       archive-tool check [--document] FILE\n";
  return 2;
}

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reading commands never create a file, and an empty file is listed as an empty archive
// rather than given a header.
bool OpenExisting(TSingleStorage& s, const std::string& file) {
  if (!platform::FileExists(file)) throw ToolError(file + ": no such file");
  document::TFileStream64 probe(file, platform::fmOpenRead);
  if (probe.GetSize() == 0) return false;
  s.SetFileName(file);
  return true;
}

// Writes to a file descriptor that the class library's streams can use.
class StdoutStream : public platform::TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* Buffer, int32_t Count) override {
    return static_cast<int32_t>(std::fwrite(Buffer, 1, static_cast<size_t>(Count), stdout));
  }
  int64_t Seek(int64_t, uint16_t) override { return 0; }
};

int List(const std::string& file) {
  TSingleStorage s;
  const bool opened = OpenExisting(s, file);
  std::cout << "# offset\tsize\tname\n";
  for (int i = 0; i < s.Count(); ++i) {
    const document::TStoreStream* e = s.Items(i);
    std::cout << e->Offset() << '\t' << e->StoredSize() << '\t' << e->Name() << '\n';
  }
  std::cout << "# streams " << s.Count() << ", total " << s.TotalSize() << " bytes, directory at "
            << s.DirectoryOffset() << " (capacity " << s.DirectoryCapacity() << "), file "
            << (opened ? s.Stream()->GetSize() : 0) << " bytes, free space " << (opened ? s.FreeSpace() : 0)
            << " bytes\n";
  return 0;
}

int Extract(const std::string& file, const std::string& name, const std::string* out) {
  TSingleStorage s;
  OpenExisting(s, file);
  if (!s.StreamExists(name)) throw ToolError(file + ": no stream \"" + name + "\"");
  if (out) {
    try {
      s.Find(name)->SaveToFile(*out);
    } catch (const platform::EFCreateError& e) {
      throw ToolError(e.Message);
    }
  } else {
    StdoutStream dest;
    s.ReadStream(name, &dest);
    if (std::fflush(stdout) != 0) throw ToolError("cannot write to standard output");
  }
  return 0;
}

int Put(const std::string& file, const std::string& name, const std::string& source) {
  std::unique_ptr<platform::TFileStream> src;
  try {
    src = std::make_unique<platform::TFileStream>(source, platform::fmOpenRead);
  } catch (const platform::EFOpenError& e) {
    throw ToolError(e.Message);
  }
  TSingleStorage s;
  s.SetOverwriteMode(0);
  s.SetFileName(file);
  if (s.ReadOnly()) throw ToolError(file + ": the archive is read-only");
  s.WriteStream(src.get(), name);
  return 0;
}

int Delete(const std::string& file, const std::string& name) {
  TSingleStorage s;
  OpenExisting(s, file);
  if (!s.StreamExists(name)) throw ToolError(file + ": no stream \"" + name + "\"");
  if (s.ReadOnly()) throw ToolError(file + ": the archive is read-only");
  s.DeleteStream(name);
  return 0;
}

int Compact(const std::string& file) {
  TSingleStorage s;
  if (!OpenExisting(s, file)) return 0;
  if (s.ReadOnly()) throw ToolError(file + ": the archive is read-only");
  s.CompactByCopy();
  return 0;
}

int Check(const std::string& file, bool document) {
  if (!platform::FileExists(file)) throw ToolError(file + ": no such file");
  const std::string bytes = kdcheck::ReadAll(file);
  std::vector<kdcheck::TCheckedEntry> entries;
  std::vector<std::string> problems = kdcheck::CheckArchiveBytes(bytes, &entries);
  if (problems.empty() && document) problems = kdcheck::CheckDocumentFile(file);
  for (const std::string& p : problems) std::cout << file << ": " << p << '\n';
  if (!problems.empty()) return 1;
  std::cout << file << ": ok, " << entries.size() << " streams" << (document ? ", a document" : "") << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  const std::string file = argv[2];
  try {
    if (cmd == "list" && argc == 3) return List(file);
    if (cmd == "extract" && (argc == 4 || argc == 5)) {
      const std::string out = argc == 5 ? argv[4] : "";
      return Extract(file, argv[3], argc == 5 ? &out : nullptr);
    }
    if (cmd == "put" && argc == 5) return Put(file, argv[3], argv[4]);
    if (cmd == "delete" && argc == 4) return Delete(file, argv[3]);
    if (cmd == "compact" && argc == 3) return Compact(file);
    if (cmd == "check" && argc == 3) return Check(file, false);
    if (cmd == "check" && argc == 4 && file == "--document") return Check(argv[3], true);
  } catch (const ToolError& e) {
    std::cerr << "archive-tool: " << e.what() << '\n';
    return 1;
  } catch (const platform::Exception& e) {
    std::cerr << "archive-tool: " << file << ": " << e.Message << '\n';
    return 1;
  }
  return Usage();
}
