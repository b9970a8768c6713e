// Times the per-value conversions a copy runs for every field of every record, each beside
// the C library doing the same job. Prints "ours / baseline" time ratios (below 1 = faster).
#include <iconv.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/encoding.h"
#include "core/variant.h"

namespace {

volatile std::size_t g_sink;

template <typename F>
double Seconds(F&& body, int repeats) {
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s < best) best = s;
  }
  return best;
}

void Report(const char* what, double ours, double baseline, const char* baseline_name) {
  std::printf("%-34s %8.3f   (ours %.1f ms, %s %.1f ms)\n", what, ours / baseline, ours * 1e3,
              baseline_name, baseline * 1e3);
}

std::string IconvAll(iconv_t cd, const std::string& in, std::size_t out_factor) {
  std::string out(in.size() * out_factor + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char* dst = out.data();
  std::size_t dst_left = out.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv(cd, &src, &src_left, &dst, &dst_left);
  out.resize(out.size() - dst_left);
  return out;
}

}  // namespace

int main() {
  constexpr int kRepeats = 5;
  std::mt19937 rng(42);
  std::printf("%-34s %8s\n", "conversion", "ratio");

  // Field texts as they come from a Czech table: mostly ASCII, some accented letters.
  const std::string czech_bytes =
      core::EncodeFromUtf8(852, "Příliš žluťoučký kůň úpěl ďábelské ódy 12345 ");
  std::string bytes;
  while (bytes.size() < (8u << 20)) bytes += czech_bytes;
  {
    iconv_t cd = iconv_open("UTF-8", "CP852");
    std::string utf8;
    const double ours = Seconds(
        [&] {
          utf8.clear();
          core::SingleByteCodec::For(852).Decode(bytes, utf8);
        },
        kRepeats);
    std::string theirs;
    const double base = Seconds([&] { theirs = IconvAll(cd, bytes, 3); }, kRepeats);
    if (utf8 != theirs) std::printf("  decode results differ!\n");
    Report("decode cp852 -> UTF-8, 8 MB", ours, base, "iconv");
    iconv_close(cd);

    iconv_t back = iconv_open("CP1250", "UTF-8");
    std::string encoded;
    const double ours_enc = Seconds([&] { encoded = core::EncodeFromUtf8(1250, utf8); }, kRepeats);
    std::string theirs_enc;
    const double base_enc = Seconds([&] { theirs_enc = IconvAll(back, utf8, 1); }, kRepeats);
    if (encoded != theirs_enc) std::printf("  encode results differ!\n");
    Report("encode UTF-8 -> cp1250", ours_enc, base_enc, "iconv");
    iconv_close(back);

    iconv_t wide = iconv_open("UTF-16LE", "UTF-8");
    std::u16string u16;
    const double ours_u16 = Seconds([&] { u16 = core::Utf8ToUtf16(utf8); }, kRepeats);
    std::string theirs_u16;
    const double base_u16 = Seconds([&] { theirs_u16 = IconvAll(wide, utf8, 2); }, kRepeats);
    if (theirs_u16.size() != u16.size() * 2) std::printf("  UTF-16 lengths differ!\n");
    Report("UTF-8 -> UTF-16", ours_u16, base_u16, "iconv");
    iconv_close(wide);
  }

  // Float texts of a field: values like prices and measurements.
  std::vector<double> values(1'000'000);
  for (double& v : values) v = std::uniform_int_distribution<int>(0, 10'000'000)(rng) / 100.0;
  {
    std::vector<std::string> texts(values.size());
    const double ours = Seconds(
        [&] {
          for (std::size_t i = 0; i < values.size(); ++i) texts[i] = core::FloatToText(values[i]);
        },
        kRepeats);
    std::vector<std::string> theirs(values.size());
    const double base = Seconds(
        [&] {
          char buffer[32];
          for (std::size_t i = 0; i < values.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, "%.15g", values[i]);
            if (std::strtod(buffer, nullptr) != values[i])
              std::snprintf(buffer, sizeof buffer, "%.17g", values[i]);
            theirs[i] = buffer;
          }
        },
        kRepeats);
    Report("FloatToText, 1M prices", ours, base, "snprintf");

    double sum = 0;
    const double ours_parse = Seconds(
        [&] {
          for (const auto& t : texts) sum += core::TextToFloat(t);
        },
        kRepeats);
    const double base_parse = Seconds(
        [&] {
          for (const auto& t : theirs) sum += std::strtod(t.c_str(), nullptr);
        },
        kRepeats);
    g_sink = static_cast<std::size_t>(sum);
    Report("TextToFloat, 1M prices", ours_parse, base_parse, "strtod");

    core::Currency c;
    std::size_t total = 0;
    const double ours_cur = Seconds(
        [&] {
          for (const auto& t : texts) {
            core::TryTextToCurrency(t, c);
            total += c.scaled;
          }
        },
        kRepeats);
    g_sink = total;
    Report("TryTextToCurrency, 1M prices", ours_cur, base_parse, "strtod");
  }

  // Date-time values of a field, whole range of the Unix era and beyond.
  std::vector<double> dates(1'000'000);
  for (double& d : dates) d = std::uniform_real_distribution<double>(1.0, 80000.0)(rng);
  {
    std::size_t total = 0;
    const double ours = Seconds(
        [&] {
          for (double d : dates) {
            const core::DateParts p = core::DecodeDateTime(d);
            total += p.year + p.month + p.day + p.hour + p.minute + p.second;
          }
        },
        kRepeats);
    const double base = Seconds(
        [&] {
          for (double d : dates) {
            const std::time_t t = static_cast<std::time_t>((d - 25569.0) * 86400.0);
            std::tm tm;
            gmtime_r(&t, &tm);
            total += tm.tm_year + tm.tm_mon + tm.tm_mday + tm.tm_hour + tm.tm_min + tm.tm_sec;
          }
        },
        kRepeats);
    g_sink = total;
    Report("DecodeDateTime, 1M dates", ours, base, "gmtime_r");
  }
  return 0;
}
