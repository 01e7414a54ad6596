#include "workers/Sha256.h"

#include "workers/Digests.h"

#include <openssl/evp.h>
#include <stdexcept>

namespace mirel {

struct TSha256::TContext {
  EVP_MD_CTX* Ctx = EVP_MD_CTX_new();
  ~TContext() { EVP_MD_CTX_free(Ctx); }
};

TSha256::TSha256() : Context(std::make_unique<TContext>()) {
  if (!Context->Ctx || EVP_DigestInit_ex(Context->Ctx, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t count) {
  if (count > 0) EVP_DigestUpdate(Context->Ctx, data, count);
}

void TSha256::UpdateZeros(int64_t count) {
  static const unsigned char zeros[65536] = {};
  while (count > 0) {
    const size_t n = count < static_cast<int64_t>(sizeof zeros) ? static_cast<size_t>(count) : sizeof zeros;
    Update(zeros, n);
    count -= static_cast<int64_t>(n);
  }
}

std::string TSha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(Context->Ctx, digest, &length);
  return HexDigits(digest, length);
}

}  // namespace mirel
