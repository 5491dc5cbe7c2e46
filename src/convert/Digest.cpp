#include "convert/Digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "recording/ReadOnlyFile.h"

namespace zentrova {

struct Digest::Context {
  EVP_MD_CTX* ctx = nullptr;
  ~Context() { EVP_MD_CTX_free(ctx); }
};

namespace {

const EVP_MD* Method(DigestKind kind) { return kind == DigestKind::Md5 ? EVP_md5() : EVP_sha256(); }

}  // namespace

const char* DigestName(DigestKind kind) { return kind == DigestKind::Md5 ? "MD5" : "SHA256"; }

std::optional<DigestKind> ParseDigestKind(const std::string& text) {
  if (text == "md5") return DigestKind::Md5;
  if (text == "sha256") return DigestKind::Sha256;
  return std::nullopt;
}

Digest::Digest(DigestKind kind) : kind_(kind), context_(std::make_unique<Context>()) {
  context_->ctx = EVP_MD_CTX_new();
  if (!context_->ctx || EVP_DigestInit_ex(context_->ctx, Method(kind_), nullptr) != 1) throw std::bad_alloc();
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

void Digest::Update(const void* data, size_t bytes) {
  if (bytes > 0) EVP_DigestUpdate(context_->ctx, data, bytes);
}

std::string Digest::Finish() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(context_->ctx, value, &size);
  EVP_DigestInit_ex(context_->ctx, Method(kind_), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text += kHex[value[i] >> 4];
    text += kHex[value[i] & 15];
  }
  return text;
}

Expected<std::string> DigestOfFile(const std::string& path, DigestKind kind) {
  const int fd = OpenReadOnly(path);
  if (fd < 0) return Failure(path + ": " + std::strerror(errno));
  Digest digest(kind);
  std::vector<unsigned char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      Error error = Failure(path + ": " + std::strerror(errno));
      ::close(fd);
      return error;
    }
    digest.Update(buffer.data(), static_cast<size_t>(got));
  }
  ::close(fd);
  return digest.Finish();
}

}  // namespace zentrova
