// Reading and writing a page-sized XML document (10,000 elements and one 4 MB Base64 buffer)
// with our model, next to pugixml and expat building an equivalent tree in the same run.
// After the table a summary gives our throughput as a ratio of the peers'.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "document/XmlDocuments.h"
#include "platform/Classes.h"

#ifdef KD_HAVE_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef KD_HAVE_EXPAT
#include <expat.h>
#endif

namespace {

using document::TXmlDocument;
using document::TXmlNode;

// 1,000 shapes of nine value elements each, plus an image with its binary buffer (argument 0)
// or without it (argument 1, to show the cost per element).
std::string MakePageText(bool WithBuffer) {
  {
    TXmlDocument doc("Page");
    doc.SetXmlFormat(document::xfIndented);
    TXmlNode* root = doc.Root();
    root->WriteInteger("Index", 1);
    for (int i = 0; i < 1000; ++i) {
      TXmlNode* s = root->NodeNew("Shape");
      s->WriteAttributeInteger("Index", i + 1);
      s->WriteString("ClassName", "TdtpRectangleShape");
      s->WriteFloat("DocLeft", 10.5f + i);
      s->WriteFloat("DocTop", 0.1f * i);
      s->WriteFloat("DocWidth", 50.25f);
      s->WriteFloat("DocHeight", 20.0f);
      s->WriteFloat("DocAngle", 0.0f);
      s->WriteBool("Visible", true);
      s->WriteColor("FillColor", 0x336699);
      s->WriteString("Name", "Shape & <" + std::to_string(i) + ">");
    }
    TXmlNode* image = root->NodeNew("BackgroundImage");
    image->WriteInteger("SourceSize", 3 << 20);
    std::vector<uint8_t> bytes(3 << 20);
    uint32_t x = 12345;
    for (auto& b : bytes) {
      x = x * 1103515245 + 12345;
      b = static_cast<uint8_t>(x >> 16);
    }
    if (WithBuffer) image->NodeNew("Buffer")->BufferWrite(bytes.data(), static_cast<int32_t>(bytes.size()));
    return doc.WriteToString();
  }
}

const std::string& PageText(int64_t Variant = 0) {
  static const std::string page = MakePageText(true);
  static const std::string elements = MakePageText(false);
  return Variant == 0 ? page : elements;
}

void BM_Kd_Parse(benchmark::State& state) {
  const std::string& text = PageText(state.range(0));
  for (auto _ : state) {
    TXmlDocument doc;
    doc.ReadFromString(text);
    benchmark::DoNotOptimize(doc.Root());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Kd_Parse)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Through the file-encoding adapter, as documents are loaded from the archive.
void BM_Kd_LoadFromStream(benchmark::State& state) {
  const std::string& text = PageText(state.range(0));
  platform::TMemoryStream stream;
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  for (auto _ : state) {
    stream.SetPosition(0);
    TXmlDocument doc;
    doc.LoadFromStream(&stream);
    benchmark::DoNotOptimize(doc.Root());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Kd_LoadFromStream)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Kd_Write(benchmark::State& state) {
  TXmlDocument doc;
  doc.ReadFromString(PageText(state.range(0)));
  doc.SetXmlFormat(document::xfIndented);
  size_t size = 0;
  for (auto _ : state) {
    std::string out = doc.WriteToString();
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Kd_Write)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Kd_SaveToStream(benchmark::State& state) {
  TXmlDocument doc;
  doc.ReadFromString(PageText(state.range(0)));
  doc.SetXmlFormat(document::xfIndented);
  size_t size = 0;
  for (auto _ : state) {
    platform::TMemoryStream stream;
    doc.SaveToStream(&stream);
    size = static_cast<size_t>(stream.Size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Kd_SaveToStream)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

#ifdef KD_HAVE_PUGIXML
void BM_Pugi_Parse(benchmark::State& state) {
  const std::string& text = PageText(state.range(0));
  for (auto _ : state) {
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_latin1);
    benchmark::DoNotOptimize(doc.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Pugi_Parse)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void BM_Pugi_Write(benchmark::State& state) {
  const std::string& text = PageText(state.range(0));
  pugi::xml_document doc;
  doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_declaration, pugi::encoding_latin1);
  size_t size = 0;
  for (auto _ : state) {
    StringWriter w;
    doc.save(w, "  ", pugi::format_indent, pugi::encoding_latin1);
    size = w.out.size();
    benchmark::DoNotOptimize(w.out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Pugi_Write)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
#endif

#ifdef KD_HAVE_EXPAT
// The same shape of tree as ours: name, attributes, value text and owned children.
struct ExpatNode {
  std::string name;
  std::vector<std::string> attributes;
  std::string value;
  std::vector<std::unique_ptr<ExpatNode>> children;
  ExpatNode* parent = nullptr;
};

struct ExpatBuilder {
  std::unique_ptr<ExpatNode> root;
  ExpatNode* current = nullptr;

  static void Start(void* user, const XML_Char* name, const XML_Char** attrs) {
    auto* self = static_cast<ExpatBuilder*>(user);
    auto node = std::make_unique<ExpatNode>();
    node->name = name;
    for (int i = 0; attrs[i]; i += 2) node->attributes.push_back(std::string(attrs[i]) + "=" + attrs[i + 1]);
    node->parent = self->current;
    ExpatNode* raw = node.get();
    if (self->current)
      self->current->children.push_back(std::move(node));
    else
      self->root = std::move(node);
    self->current = raw;
  }
  static void End(void* user, const XML_Char*) {
    auto* self = static_cast<ExpatBuilder*>(user);
    self->current = self->current->parent;
  }
  static void Text(void* user, const XML_Char* s, int len) {
    auto* self = static_cast<ExpatBuilder*>(user);
    if (self->current && self->current->children.empty()) self->current->value.append(s, static_cast<size_t>(len));
  }
};

void BM_Expat_Parse(benchmark::State& state) {
  const std::string& text = PageText(state.range(0));
  for (auto _ : state) {
    ExpatBuilder builder;
    // Expat lacks windows-1252; the text is ASCII, so Latin-1 reads it the same.
    XML_Parser parser = XML_ParserCreate("ISO-8859-1");
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, &ExpatBuilder::Start, &ExpatBuilder::End);
    XML_SetCharacterDataHandler(parser, &ExpatBuilder::Text);
    if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_ERROR)
      state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(builder.root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Expat_Parse)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
#endif

// Keeps each benchmark's time per iteration for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark.
    for (const Run& r : runs)
      if (!r.error_occurred && (r.run_type == Run::RT_Iteration || r.aggregate_name == "median"))
        times[r.run_name.str()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

void Ratio(const SummaryReporter& rep, const char* ours, const char* peer) {
  auto a = rep.times.find(ours), b = rep.times.find(peer);
  if (a == rep.times.end() || b == rep.times.end()) return;
  std::printf("  %-22s is %.2fx the speed of %s\n", ours, b->second / a->second, peer);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("documents: /0 %zu bytes with the buffer, /1 %zu bytes of elements only\n", PageText(0).size(),
              PageText(1).size());
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("summary (above 1 is faster):\n");
  for (const char* v : {"/0", "/1"}) {
    auto r = [&](const char* a, const char* b) { Ratio(reporter, (std::string(a) + v).c_str(), (std::string(b) + v).c_str()); };
    r("BM_Kd_Parse", "BM_Pugi_Parse");
    r("BM_Kd_Parse", "BM_Expat_Parse");
    r("BM_Kd_LoadFromStream", "BM_Pugi_Parse");
    r("BM_Kd_LoadFromStream", "BM_Expat_Parse");
    r("BM_Kd_Write", "BM_Pugi_Write");
    r("BM_Kd_SaveToStream", "BM_Pugi_Write");
  }
  benchmark::Shutdown();
  return 0;
}
