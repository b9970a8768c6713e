// What one progress step of the copy run costs the gauge, against a gauge that works its
// gradient out again for every paint. Run on the offscreen platform:
//   QT_QPA_PLATFORM=offscreen bench_ui_gauge
#include "ui/gauge.h"

#include <QApplication>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

template <typename Step>
double SecondsFor(int steps, Step step) {
  const auto start = Clock::now();
  for (int i = 0; i < steps; ++i) step(i);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QWidget window;
  window.resize(291, 97);
  ui::Tgradgauge gauge(&window);
  gauge.setGeometry(0, 75, 291, 22);
  gauge.SetCaption("/home/user/data/archive/2024/accounts/invoices_received_and_issued.dbf");
  window.show();
  QCoreApplication::processEvents();

  constexpr int kSteps = 20000;
  gauge.SetMin(0);
  gauge.SetMax(kSteps);

  // Baseline: every step also changes a gradient colour, so the strip is worked out again
  // before the synchronous paint.
  const double rebuilt = SecondsFor(kSteps, [&](int i) {
    gauge.SetColor2((i & 1) ? ui::clYellow : ui::clWhite);
    gauge.SetProgress(i + 1);
  });
  gauge.SetProgress(0);
  const double cached = SecondsFor(kSteps, [&](int i) { gauge.SetProgress(i + 1); });
  // A step that does not move the bar (Progress unchanged) must cost next to nothing.
  const double unchanged = SecondsFor(kSteps, [&](int) { gauge.SetProgress(kSteps); });

  std::printf("progress steps: %d on a 291x22 bar\n", kSteps);
  std::printf("gradient rebuilt per step / cached gradient: %.2f\n", rebuilt / cached);
  std::printf("unchanged progress / cached gradient step:   %.4f\n", unchanged / cached);
  return 0;
}
