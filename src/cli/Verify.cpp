// verify OUTPUT INPUT: the recording decoded again and compared, picture by picture, with what
// the output holds when read back as a player reads it. A raw or FFV1 output must be identical;
// a lossy one must keep every picture above a PSNR.
#include <cmath>
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Signals.h"
#include "container/PictureReader.h"
#include "convert/RecordingDigest.h"

namespace zentrova::cli {
namespace {

// The PSNR of two 24-bit pictures over all three colours; infinity when they are identical.
double Psnr(const uint8_t* a, const uint8_t* b, size_t bytes) {
  uint64_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    const int d = static_cast<int>(a[i]) - static_cast<int>(b[i]);
    sum += static_cast<uint64_t>(d * d);
  }
  if (sum == 0) return INFINITY;
  const double mse = static_cast<double>(sum) / static_cast<double>(bytes);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string Decibels(double db) {
  if (std::isinf(db)) return "identical";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dB", db);
  return text;
}

struct Comparison {
  uint32_t compared = 0;
  uint32_t identical = 0;
  uint32_t firstDiffering = 0;  // counted from 1; 0 while none differs
  uint32_t missing = 0;         // pictures of the recording that the output lacks
  bool sizeDiffers = false;
  double minPsnr = INFINITY;
  uint32_t minFrame = 0;
  double psnrSum = 0;           // of the finite ones
  uint32_t finite = 0;
};

}  // namespace

void AddVerifyOptions(CLI::App& verify, VerifyOptions& options) {
  verify.add_option("OUTPUT", options.output, "A converted file (AVI, Matroska, MP4), or a NAME.report.json")
      ->required();
  verify.add_option("INPUT", options.input, "The ZR recording it was converted from");
  verify.add_option("--min-psnr", options.minPsnr, "Lowest PSNR a lossy output may have in any picture")
      ->capture_default_str();
  verify.add_flag("--frames", options.perFrame, "Print the PSNR of every picture of a lossy output");
  verify.add_option("--idct", options.idct, "Inverse DCT the conversion used: auto, plain or vector")
      ->capture_default_str()
      ->check(CLI::IsMember({"auto", "plain", "vector"}));
}

int RunVerify(const Invocation& how, std::ostream& out, std::ostream& err) {
  const VerifyOptions& v = how.verify;
  if (v.input.empty()) return RunVerifyReport(how, out, err);
  auto opened = container::OpenPictureReader(v.output);
  if (!opened) {
    err << "zentrova: " << Printable(v.output) << ": cannot be read: " << opened.reason() << std::endl;
    return kExitFailed;
  }
  std::unique_ptr<container::PictureReader> reader = std::move(*opened);
  const bool lossless = container::IsLossless(reader->codec());

  JobOptions options;
  options.idct = IdctOf(v.idct);
  options.cancel = &Cancel().stop;
  Comparison c;
  std::vector<uint8_t> picture, expected;
  // Each picture of the recording is compared as it is decoded; nothing is kept of it after.
  auto compare = [&](uint32_t index, const uint8_t* bottomUp, int32_t width, int32_t height) {
    if (!reader->Next(picture)) {
      ++c.missing;
      return;
    }
    ++c.compared;
    if (width != reader->width() || height != reader->height()) {
      c.sizeDiffers = true;
      if (c.firstDiffering == 0) c.firstDiffering = index + 1;
      return;
    }
    const size_t row = static_cast<size_t>(width) * 3;
    expected.resize(row * static_cast<size_t>(height));
    for (int32_t r = 0; r < height; ++r)
      std::copy_n(bottomUp + row * static_cast<size_t>(height - 1 - r), row, expected.data() + row * r);
    if (lossless) {
      if (expected == picture) {
        ++c.identical;
      } else if (c.firstDiffering == 0) {
        c.firstDiffering = index + 1;
      }
      return;
    }
    const double db = Psnr(expected.data(), picture.data(), expected.size());
    if (std::isinf(db)) ++c.identical;
    if (db < c.minPsnr || c.minFrame == 0) {
      c.minPsnr = db;
      c.minFrame = index + 1;
    }
    if (!std::isinf(db)) {
      c.psnrSum += db;
      ++c.finite;
    }
    if (db < v.minPsnr && c.firstDiffering == 0) c.firstDiffering = index + 1;
    if (v.perFrame) out << "frame " << index + 1 << ": " << Decibels(db) << "\n";
  };
  const RecordingDigest digest = DigestRecording(v.input, options, DigestKind::Md5, compare);
  if (!digest.started) {
    if (digest.cancelled) return kExitCancelled;
    err << "zentrova: " << digest.reason << std::endl;
    return kExitFailed;
  }
  if (digest.cancelled) return kExitCancelled;
  uint32_t extra = 0;
  while (extra < 1000000 && reader->Next(picture)) ++extra;
  if (!reader->error().empty())
    err << "zentrova: " << Printable(v.output) << ": " << reader->error() << std::endl;

  const uint32_t total = digest.loop.framesWritten;
  bool ok = c.missing == 0 && extra == 0 && !c.sizeDiffers && reader->error().empty();
  if (lossless) {
    ok = ok && c.identical == total;
    out << c.identical << " of " << total << " frames identical";
    if (c.firstDiffering) out << "; frame " << c.firstDiffering << " is the first that differs";
    out << "\n";
  } else {
    ok = ok && c.firstDiffering == 0;
    const double mean = c.finite ? c.psnrSum / c.finite : INFINITY;
    out << c.compared << " of " << total << " frames compared (" << reader->codec() << "): PSNR min "
        << Decibels(c.minPsnr) << (c.minFrame ? " (frame " + std::to_string(c.minFrame) + ")" : "") << ", mean "
        << Decibels(mean) << "; " << c.identical << " identical\n";
    if (c.firstDiffering)
      out << "frame " << c.firstDiffering << " is the first below " << Decibels(v.minPsnr) << "\n";
  }
  if (c.sizeDiffers)
    out << "the output's pictures are " << reader->width() << " x " << reader->height() << ", not the recording's\n";
  if (c.missing) out << "the output lacks the last " << c.missing << " frames of the recording\n";
  if (extra) out << "the output holds " << extra << " frames more than the recording\n";
  out << (ok ? "verified" : "NOT verified") << ": " << Printable(v.output) << "\n";
  return ok ? kExitOk : kExitFailed;
}

}  // namespace zentrova::cli
