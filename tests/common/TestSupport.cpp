#include "tests/common/TestSupport.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kdtest {

std::string OutputDir() {
  const char* env = std::getenv("KD_TEST_OUTPUT");
  fs::path dir = env ? fs::path(env) : fs::temp_directory_path() / "kadrilo-test-output";
  fs::create_directories(dir);
  return dir.string();
}

uint32_t FileMode(const std::string& Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

int DotFileCount(const std::string& Folder) {
  int n = 0;
  for (auto& e : fs::directory_iterator(Folder)) n += e.path().filename().string()[0] == '.';
  return n;
}

std::string TempDir() {
  static std::atomic<int> counter{0};
  fs::path dir = fs::temp_directory_path() /
                 ("kadrilo-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string SourcePath(const std::string& relative) {
#ifdef KD_SOURCE_DIR
  return std::string(KD_SOURCE_DIR) + "/" + relative;
#else
  return relative;
#endif
}

std::string ToolPath(const std::string& Name) {
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path() / "tools" / Name)
      .string();
}

int RunTool(const std::string& Cmd, std::string& Out) {
  Out.clear();
  FILE* p = popen((Cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) Out += buf;
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kdtest
