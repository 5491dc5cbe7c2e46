// verify NAME.report.json: the files a conversion's report names still have the SHA-256 it
// recorded for them.
#include <iostream>
#include <optional>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "convert/Digest.h"

namespace zentrova::cli {
namespace {

// The string value after `"key":` from `from` on, as the report's writer put it: its escapes
// undone (\" \\ \/ \n \t and \uXXXX, surrogate pairs joined).
std::optional<std::string> StringAfter(const std::string& json, const std::string& key, size_t from) {
  const std::string lead = JsonString(key) + ": \"";
  size_t at = json.find(lead, from);
  if (at == std::string::npos) return std::nullopt;
  at += lead.size();
  std::string value;
  auto put = [&value](uint32_t c) {
    if (c < 0x80) {
      value += static_cast<char>(c);
    } else if (c < 0x800) {
      value += static_cast<char>(0xC0 | (c >> 6));
      value += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      value += static_cast<char>(0xE0 | (c >> 12));
      value += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      value += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      value += static_cast<char>(0xF0 | (c >> 18));
      value += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      value += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      value += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  auto hex4 = [&json](size_t i) -> std::optional<uint32_t> {
    if (i + 4 > json.size()) return std::nullopt;
    uint32_t v = 0;
    for (size_t k = i; k < i + 4; ++k) {
      const char ch = json[k];
      v <<= 4;
      if (ch >= '0' && ch <= '9') v |= static_cast<uint32_t>(ch - '0');
      else if (ch >= 'a' && ch <= 'f') v |= static_cast<uint32_t>(ch - 'a' + 10);
      else if (ch >= 'A' && ch <= 'F') v |= static_cast<uint32_t>(ch - 'A' + 10);
      else return std::nullopt;
    }
    return v;
  };
  while (at < json.size() && json[at] != '"') {
    if (json[at] != '\\') {
      value += json[at++];
      continue;
    }
    if (at + 1 >= json.size()) return std::nullopt;
    const char e = json[at + 1];
    at += 2;
    if (e == 'n') value += '\n';
    else if (e == 't') value += '\t';
    else if (e == 'r') value += '\r';
    else if (e == 'b') value += '\b';
    else if (e == 'f') value += '\f';
    else if (e != 'u') value += e;
    else {
      std::optional<uint32_t> c = hex4(at);
      if (!c) return std::nullopt;
      at += 4;
      if (*c >= 0xD800 && *c < 0xDC00 && at + 6 <= json.size() && json[at] == '\\' && json[at + 1] == 'u') {
        if (std::optional<uint32_t> low = hex4(at + 2); low && *low >= 0xDC00 && *low < 0xE000) {
          *c = 0x10000 + ((*c - 0xD800) << 10) + (*low - 0xDC00);
          at += 6;
        }
      }
      put(*c);
    }
  }
  if (at >= json.size()) return std::nullopt;
  return value;
}

}  // namespace

int RunVerifyReport(const Invocation& how, std::ostream& out, std::ostream& err) {
  const std::string& path = how.verify.output;
  // The report is read whole: it is small, and a file that is not one is refused below.
  std::string json;
  {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      err << "zentrova: " << Printable(path) << ": cannot be read" << std::endl;
      return kExitFailed;
    }
    char buf[65536];
    for (size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0 && json.size() < (64u << 20);) json.append(buf, got);
    std::fclose(f);
  }
  if (json.rfind("{\"report\": \"zentrova conversion\"", 0) != 0) {
    err << "zentrova: " << Printable(path)
        << " is not a conversion report; verify takes OUTPUT INPUT, or NAME.report.json" << std::endl;
    return kExitUsage;
  }
  bool ok = true;
  for (const char* which : {"input", "output"}) {
    const size_t at = json.find(JsonString(which) + ": {");
    const std::optional<std::string> file = at == std::string::npos ? std::nullopt : StringAfter(json, "path", at);
    const std::optional<std::string> recorded = file ? StringAfter(json, "sha256", at) : std::nullopt;
    if (!file || !recorded) {
      out << which << ": the report records no digest\n";
      ok = false;
      continue;
    }
    const Expected<std::string> now = DigestOfFile(*file, DigestKind::Sha256);
    if (!now) {
      out << which << ": " << Printable(*file) << " cannot be read: " << now.reason() << "\n";
      ok = false;
    } else if (*now != *recorded) {
      out << which << ": " << Printable(*file) << " has changed: SHA-256 " << *now << ", the report records "
          << *recorded << "\n";
      ok = false;
    } else {
      out << which << ": " << Printable(*file) << " SHA-256 " << *now << " as recorded\n";
    }
  }
  out << (ok ? "verified" : "NOT verified") << ": " << Printable(path) << "\n";
  return ok ? kExitOk : kExitFailed;
}

}  // namespace zentrova::cli
