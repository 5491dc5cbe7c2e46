#pragma once
// A running MD5 or SHA-256 of bytes handed over in pieces, as the standard tools print it
// (md5sum, sha256sum, ffmpeg's framemd5): lower-case hexadecimal.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Expected.h"

namespace zentrova {

enum class DigestKind { Md5, Sha256 };

// "MD5", "SHA256": the names ffmpeg's checksum formats use in their headers.
const char* DigestName(DigestKind kind);
// "md5" or "sha256"; nullopt for anything else.
std::optional<DigestKind> ParseDigestKind(const std::string& text);

class Digest {
 public:
  explicit Digest(DigestKind kind = DigestKind::Md5);
  ~Digest();
  Digest(Digest&&) noexcept;
  Digest& operator=(Digest&&) noexcept;

  void Update(const void* data, size_t bytes);
  // The digest of everything handed over since the start (or the last Finish), in hexadecimal;
  // the digest starts again empty.
  std::string Finish();
  DigestKind kind() const { return kind_; }

 private:
  struct Context;
  DigestKind kind_;
  std::unique_ptr<Context> context_;
};

// The digest of a whole file, read sequentially; the error says why it cannot be read.
Expected<std::string> DigestOfFile(const std::string& path, DigestKind kind);

}  // namespace zentrova
