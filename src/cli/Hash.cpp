// hash INPUT: the digest of every picture of a recording in ffmpeg's framemd5 text, and of its
// sound, as a raw conversion's output gives them to ffmpeg; nothing is written.
#include <iostream>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Signals.h"
#include "convert/RecordingDigest.h"

namespace zentrova::cli {

void AddHashOptions(CLI::App& hash, HashOptions& options) {
  hash.add_option("INPUT", options.input, "The ZR recording")->required();
  hash.add_option("--format", options.format, "Digest of each picture: md5 (ffmpeg's framemd5) or sha256")
      ->capture_default_str()
      ->check(CLI::IsMember({"md5", "sha256"}));
  hash.add_option("--rate", options.rate,
                  "The rate rule of the conversion to match: auto, classic, N or N/D (as convert --rate)")
      ->capture_default_str();
  hash.add_option("--idct", options.idct, "Inverse DCT of the conversion to match: auto, plain or vector")
      ->capture_default_str()
      ->check(CLI::IsMember({"auto", "plain", "vector"}));
}

int RunHash(const Invocation& how, std::ostream& out, std::ostream& err) {
  const HashOptions& h = how.hash;
  JobOptions options;
  const Expected<RateChoice> rate = RateChoice::Parse(h.rate);
  if (!rate) {
    err << "zentrova: --rate: " << rate.reason() << std::endl;
    return kExitUsage;
  }
  options.rate = *rate;
  options.idct = IdctOf(h.idct);
  options.cancel = &Cancel().stop;
  const DigestKind kind = ParseDigestKind(h.format).value_or(DigestKind::Md5);
  const RecordingDigest digest = DigestRecording(h.input, options, kind);
  if (!digest.started) {
    if (digest.cancelled) return kExitCancelled;
    err << "zentrova: " << digest.reason << std::endl;
    return kExitFailed;
  }
  out << FrameHashText(*digest.output, kind, "zentrova " ZENTROVA_VERSION);
  // The sound as `ffmpeg -i OUT.avi -map 0:a -f md5 -` prints it; a comment to framemd5 readers.
  out << "#audio: MD5=" << digest.output->soundMd5() << "\n";
  out.flush();
  if (digest.cancelled) return kExitCancelled;
  if (!digest.reason.empty()) err << "zentrova: " << digest.reason << std::endl;
  return ExitStatusOf(digest.loop.outcome);
}

}  // namespace zentrova::cli
