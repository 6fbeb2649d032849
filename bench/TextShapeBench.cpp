// Memo wrapping: the cut found from the longest fitting prefix against the plain rule that
// measures every candidate, on a paragraph of words and on one long word.
#include <benchmark/benchmark.h>

#include "document/dtpMemoShape.h"
#include "platform/Font.h"

using namespace document;

namespace {

std::unique_ptr<TdtpMemoShape> MakeMemo(const std::string& Text) {
  InitializeDtpShape();
  InitializeDtpEffectShape();
  InitializeDtpTextShape();
  InitializeDtpMemoShape();
  auto m = NewShape<TdtpMemoShape>();
  m->SetAutoSize(false);
  m->SetDocWidth(80);
  m->SetText(Text);
  return m;
}

std::string Words(int N) {
  std::string s;
  const char* w[] = {"kadrilo ", "de ", "tekening ", "a ", "vorm "};
  for (int i = 0; i < N; ++i) s += w[i % 5];
  return s;
}

void BM_Wrap(benchmark::State& state, bool Fast, std::string Text) {
  platform::TFakeTextMeasurer fake;
  platform::TScopedTextMeasurer scoped(&fake);
  auto m = MakeMemo(Text);
  for (auto _ : state) {
    if (Fast)
      m->WrapLines();
    else
      m->WrapLinesReference();
    benchmark::DoNotOptimize(m->WrappedLines().size());
  }
}

BENCHMARK_CAPTURE(BM_Wrap, words_fast, true, Words(400));
BENCHMARK_CAPTURE(BM_Wrap, words_reference, false, Words(400));
BENCHMARK_CAPTURE(BM_Wrap, long_word_fast, true, std::string(3000, 'x'));
BENCHMARK_CAPTURE(BM_Wrap, long_word_reference, false, std::string(3000, 'x'));

}  // namespace

BENCHMARK_MAIN();
