// Frame time of every transition style at 1280 x 1024 (or --size): the control's own frame
// composition (snapshot, effect, hand-over) timed through SetProgress in Manual mode, at the
// default Step 4 and at Step 100 (the largest grids), over Progress 1..99 (each frame the best
// of three runs) or the listed --progress values. Prints a table of median and worst per style
// against the 16 ms frame budget. Long, thin sizes (4000x100, 20x3000) show the shapes that
// grow far beyond the picture.
// --reference times the plain reference drawing the fast one is checked against.
//   bench_TransitionBench [--size WxH] [--stride N] [--progress 35,70] [--styles A-B]
//                         [--steps 4,100] [--reference]
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/PictureShow.h"
#include "media/PictureShowEffects.h"
#include "media/PictureShowEffectsPriv.h"
#include "platform/Graphics.h"

namespace {

int PicW = 1280, PicH = 1024;
constexpr double kBudgetMs = 16.0;

// Comma-separated numbers clamped to Lo..Hi.
std::vector<int> Numbers(const char* Value, int Lo, int Hi) {
  std::vector<int> Out;
  for (const char* s = Value; *s;) {
    Out.push_back(std::clamp(std::atoi(s), Lo, Hi));
    s = std::strchr(s, ',') ? std::strchr(s, ',') + 1 : s + std::strlen(s);
  }
  return Out;
}

void FillPicture(platform::TBitmap& B) {
  B.SetPixelFormat(platform::pf32bit);
  B.SetSize(PicW, PicH);
  for (int y = 0; y < PicH; ++y) {
    auto* p = static_cast<uint32_t*>(B.ScanLine(y));
    for (int x = 0; x < PicW; ++x) p[x] = uint32_t((x * 255 / PicW) << 16 | (y * 255 / PicH) << 8 | ((x ^ y) & 0xFF));
  }
}

struct Times {
  double Median = 0, Worst = 0;
};

Times Measure(media::TPictureShow& S, int Style, uint16_t Step, const std::vector<int>& Progresses) {
  S.SetStyle(static_cast<media::TShowStyle>(Style));
  S.SetStep(Step);
  S.Execute();
  std::vector<double> Ms;
  for (int p : Progresses) {
    // The best of three runs of the same frame: the machine's other work only adds to a run.
    double Best = 1e9;
    for (int Run = 0; Run < 3; ++Run) {
      S.SetProgress(0);
      const auto t0 = std::chrono::steady_clock::now();
      S.SetProgress(static_cast<uint8_t>(p));
      Best = std::min(Best, std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - t0).count());
    }
    Ms.push_back(Best);
  }
  S.Stop();
  std::sort(Ms.begin(), Ms.end());
  return Times{Ms[Ms.size() / 2], Ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication App(argc, argv);
  int Stride = 7, First = 1, Last = media::EffectCount;
  std::vector<uint16_t> Steps{4, 100};
  std::vector<int> Progresses;
  for (int i = 1; i < argc; ++i) {
    const char* Value = i + 1 < argc ? argv[i + 1] : "";
    if (!std::strcmp(argv[i], "--reference")) {
      media::SetEffectReferencePath(true);
    } else if (!std::strcmp(argv[i], "--stride")) {
      Stride = std::max(1, std::atoi(Value));
      ++i;
    } else if (!std::strcmp(argv[i], "--size")) {
      std::sscanf(Value, "%dx%d", &PicW, &PicH);
      PicW = std::clamp(PicW, 1, 20000);
      PicH = std::clamp(PicH, 1, 20000);
      ++i;
    } else if (!std::strcmp(argv[i], "--progress")) {
      Progresses = Numbers(Value, 1, 99);
      ++i;
    } else if (!std::strcmp(argv[i], "--styles")) {
      std::sscanf(Value, "%d-%d", &First, &Last);
      ++i;
    } else if (!std::strcmp(argv[i], "--steps")) {
      Steps.clear();
      for (int St : Numbers(Value, 1, 100)) Steps.push_back(static_cast<uint16_t>(St));
      if (Steps.empty()) Steps.push_back(4);
      ++i;
    }
  }
  if (Progresses.empty())
    for (int p = 1; p <= 99; p += Stride) Progresses.push_back(p);
  First = std::clamp(First, 1, media::EffectCount);
  Last = std::clamp(Last, First, media::EffectCount);
  platform::TBitmap Picture;
  FillPicture(Picture);
  media::TPictureShow S(nullptr);
  S.SetManual(true);
  S.Picture()->SetGraphic(&Picture);

  std::printf("Transition frame time at %d x %d, ms per frame (Progress %d..%d, %zu frames), %s drawing\n",
              PicW, PicH, Progresses.front(), Progresses.back(), Progresses.size(),
              media::EffectReferencePath() ? "reference" : "fast");
  std::printf("%5s  %-58s", "style", "name");
  for (uint16_t St : Steps) std::printf("  step %-3u med   worst", St);
  std::printf("\n");
  std::vector<double> Worsts;
  int Over = 0;
  for (int Style = First; Style <= Last; ++Style) {
    std::printf("%5d  %-58s", Style, media::Effects(Style - 1).Name);
    bool Slow = false;
    for (uint16_t St : Steps) {
      const Times T = Measure(S, Style, St, Progresses);
      std::printf("  %13.2f %7.2f", T.Median, T.Worst);
      Worsts.push_back(T.Worst);
      Slow = Slow || T.Worst > kBudgetMs;
    }
    Over += Slow;
    std::printf("%s\n", Slow ? "  over budget" : "");
    std::fflush(stdout);
  }
  std::sort(Worsts.begin(), Worsts.end());
  std::printf("styles over %.0f ms: %d of %d; worst frame %.2f ms; median of the worsts %.2f ms\n",
              kBudgetMs, Over, Last - First + 1, Worsts.back(), Worsts[Worsts.size() / 2]);
  return 0;
}
