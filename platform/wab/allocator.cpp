// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/allocator.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace wab {
namespace {

constexpr std::uint32_t kRootMagic = 0x57414252;    // "WABR"
constexpr std::uint32_t kLinkedMagic = 0x5741424C;  // "WABL"
constexpr std::uint32_t kFreedMagic = 0x57414246;   // "WABF"

// Sits before every buffer; 16 bytes keep the caller's buffer aligned for any
// property value.
struct alignas(16) Header {
  std::uint32_t magic;
  Header* next;  // the root's linked buffers form a list
};
static_assert(sizeof(Header) == 16);

Header* HeaderOf(void* buffer) {
  return reinterpret_cast<Header*>(static_cast<char*>(buffer) - sizeof(Header));
}

void* Allocate(std::size_t size, std::uint32_t magic) {
  if (size > SIZE_MAX - sizeof(Header)) return nullptr;
  void* block = std::calloc(1, sizeof(Header) + size);
  if (!block) return nullptr;
  auto* header = static_cast<Header*>(block);
  header->magic = magic;
  header->next = nullptr;
  return header + 1;
}

}  // namespace

void* AllocateRoot(std::size_t size) {
  return Allocate(size, kRootMagic);
}

void* AllocateLinked(std::size_t size, void* parent) {
  if (!parent) return nullptr;
  Header* root = HeaderOf(parent);
  if (root->magic != kRootMagic) return nullptr;
  void* buffer = Allocate(size, kLinkedMagic);
  if (!buffer) return nullptr;
  Header* linked = HeaderOf(buffer);
  linked->next = root->next;
  root->next = linked;
  return buffer;
}

void FreeRoot(void* buffer) {
  if (!buffer) return;
  Header* root = HeaderOf(buffer);
  if (root->magic != kRootMagic) return;
  Header* linked = root->next;
  while (linked) {
    Header* next = linked->next;
    linked->magic = kFreedMagic;
    std::free(linked);
    linked = next;
  }
  root->magic = kFreedMagic;
  std::free(root);
}

}  // namespace wab
