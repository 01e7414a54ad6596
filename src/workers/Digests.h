#pragma once
// The checksums a user asks for with --hash (md5, sha1, sha256), computed
// together over one pass of the data.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mirel {

class TRecoveryStream;

// Algorithm name and lower-case hex digest, in the order asked for.
using THashes = std::vector<std::pair<std::string, std::string>>;

// Lower-case hex of a digest's bytes.
[[nodiscard]] std::string HexDigits(const unsigned char* bytes, size_t count);

// "md5,sha1,sha256" or any part of it, each once; nullopt for anything else.
[[nodiscard]] std::optional<std::vector<std::string>> ParseHashNames(const std::string& text);

class TDigests {
public:
  explicit TDigests(const std::vector<std::string>& names);
  ~TDigests();
  TDigests(const TDigests&) = delete;
  TDigests& operator=(const TDigests&) = delete;

  void Update(const void* data, size_t count);
  // The digests; the object is spent afterwards.
  [[nodiscard]] THashes Finish();

private:
  struct TContext;
  std::vector<std::unique_ptr<TContext>> Contexts;
};

// The digests of a file's bytes; nullopt when it cannot be read whole.
[[nodiscard]] std::optional<THashes> HashFile(const std::string& path, const std::vector<std::string>& names);

// The digests of what a stream delivers from its start; nullopt when some of
// it could not be read (a digest over zeros standing in would be a lie).
[[nodiscard]] std::optional<THashes> HashStream(TRecoveryStream& stream, const std::vector<std::string>& names);

}  // namespace mirel
