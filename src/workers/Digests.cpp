#include "workers/Digests.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <stdexcept>

#include "core/RecoveryStream.h"

namespace mirel {

namespace {

const EVP_MD* Algorithm(const std::string& name) {
  if (name == "md5") return EVP_md5();
  if (name == "sha1") return EVP_sha1();
  if (name == "sha256") return EVP_sha256();
  return nullptr;
}

constexpr size_t kChunk = 1 << 20;

}  // namespace

std::optional<std::vector<std::string>> ParseHashNames(const std::string& text) {
  std::vector<std::string> names;
  size_t at = 0;
  for (;;) {
    const size_t comma = text.find(',', at);
    const std::string name = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (!Algorithm(name)) return std::nullopt;
    for (const std::string& n : names)
      if (n == name) return std::nullopt;
    names.push_back(name);
    if (comma == std::string::npos) return names;
    at = comma + 1;
  }
}

struct TDigests::TContext {
  std::string Name;
  EVP_MD_CTX* Ctx = EVP_MD_CTX_new();
  ~TContext() { EVP_MD_CTX_free(Ctx); }
};

TDigests::TDigests(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    auto c = std::make_unique<TContext>();
    c->Name = name;
    if (!c->Ctx || EVP_DigestInit_ex(c->Ctx, Algorithm(name), nullptr) != 1)
      throw std::runtime_error("cannot start the " + name + " digest");
    Contexts.push_back(std::move(c));
  }
}

TDigests::~TDigests() = default;

void TDigests::Update(const void* data, size_t count) {
  for (auto& c : Contexts) EVP_DigestUpdate(c->Ctx, data, count);
}

std::string HexDigits(const unsigned char* bytes, size_t count) {
  static const char hex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) {
    text += hex[bytes[i] >> 4];
    text += hex[bytes[i] & 15];
  }
  return text;
}

THashes TDigests::Finish() {
  THashes out;
  for (auto& c : Contexts) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(c->Ctx, digest, &length);
    out.emplace_back(c->Name, HexDigits(digest, length));
  }
  return out;
}

std::optional<THashes> HashFile(const std::string& path, const std::vector<std::string>& names) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  TDigests digests(names);
  std::vector<char> buffer(kChunk);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    digests.Update(buffer.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  return digests.Finish();
}

std::optional<THashes> HashStream(TRecoveryStream& stream, const std::vector<std::string>& names) {
  TDigests digests(names);
  std::vector<char> buffer(kChunk);
  int64_t total = 0;
  for (;;) {
    const size_t n = stream.Read(buffer.data(), buffer.size());
    if (n == 0) break;
    digests.Update(buffer.data(), n);
    total += static_cast<int64_t>(n);
  }
  if (total != stream.GetSize() || !stream.Missing().Empty()) return std::nullopt;
  return digests.Finish();
}

}  // namespace mirel
