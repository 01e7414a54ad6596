#pragma once
// Storage that never moves what it holds: objects of one type in chunks
// (TChunkStore), and raw bytes handed out in order (TByteArena). Both free
// everything in one call, which is how a catalogue drops a whole scan.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace mirel {

template <class T, size_t PerChunk = 512>
class TChunkStore {
public:
  TChunkStore() = default;
  ~TChunkStore() { Clear(); }
  TChunkStore(const TChunkStore&) = delete;
  TChunkStore& operator=(const TChunkStore&) = delete;

  // A new object built from args; it stays where it is until Clear.
  template <class... Args>
  T* Emplace(Args&&... args) {
    if (Used % PerChunk == 0 && Used / PerChunk == Chunks.size()) {
      Chunks.reserve(Chunks.size() + 1);
      Chunks.push_back(std::allocator<T>().allocate(PerChunk));
    }
    T* at = Chunks[Used / PerChunk] + Used % PerChunk;
    new (at) T(std::forward<Args>(args)...);
    ++Used;
    return at;
  }
  // Destroys every object, the last made first, and gives the memory back.
  void Clear() {
    for (size_t i = Used; i-- > 0;) std::destroy_at(Chunks[i / PerChunk] + i % PerChunk);
    Used = 0;
    for (T* c : Chunks) std::allocator<T>().deallocate(c, PerChunk);
    Chunks.clear();
  }
  size_t Count() const { return Used; }

private:
  std::vector<T*> Chunks;
  size_t Used = 0;
};

// Raw memory in large blocks, 8-byte aligned; the objects placed there are
// destroyed by their owners, the memory is given back only by Clear.
class TByteArena {
public:
  static constexpr size_t BLOCK = 64 << 10;
  static constexpr size_t ALIGN = 8;

  TByteArena() = default;
  TByteArena(const TByteArena&) = delete;
  TByteArena& operator=(const TByteArena&) = delete;

  // bytes of storage at a multiple of align (a power of two, at most ALIGN);
  // a request larger than a block gets a block of its own.
  void* Allocate(size_t bytes, size_t align = ALIGN) {
    const size_t skip = Blocks.empty() ? 0 : (align - reinterpret_cast<uintptr_t>(Next) % align) % align;
    if (Blocks.empty() || skip > Left || bytes > Left - skip) {
      const size_t size = std::max(bytes, BLOCK);
      Blocks.reserve(Blocks.size() + 1);
      Blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
      Next = Blocks.back().get();
      Left = size;
    } else {
      Next += skip;
      Left -= skip;
    }
    void* at = Next;
    Next += bytes;
    Left -= bytes;
    return at;
  }
  void Clear() {
    Blocks.clear();
    Next = nullptr;
    Left = 0;
  }
  size_t BlockCount() const { return Blocks.size(); }

private:
  std::vector<std::unique_ptr<std::byte[]>> Blocks;
  std::byte* Next = nullptr;
  size_t Left = 0;
};

}  // namespace mirel
