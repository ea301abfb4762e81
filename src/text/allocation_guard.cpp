// Replaces the global allocation functions so that a failed allocation anywhere ends the process
// through the fatal error box, naming the number of bytes asked for. Linked into every executable.
#include "text/text_value.h"
#include "text/texts.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> failing{false};

[[noreturn]] void AllocationFailed(std::size_t size) {
  // Reporting allocates a little itself; a second failure on the way ends the process plainly.
  if (failing.exchange(true)) std::_Exit(-1);
  char message[64];
  std::snprintf(message, sizeof message, AllocationFailedFormat, size);
  FatalRuntimeError(0, message);
}

void* Allocate(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  AllocationFailed(size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
#ifdef _WIN32
  // The Windows C runtime has no aligned_alloc; its aligned blocks are freed with _aligned_free.
  if (void* block = _aligned_malloc(rounded == 0 ? align : rounded, align)) return block;
#else
  if (void* block = std::aligned_alloc(align, rounded == 0 ? align : rounded)) return block;
#endif
  AllocationFailed(size);
}

void FreeAligned(void* block) {
#ifdef _WIN32
  _aligned_free(block);
#else
  std::free(block);
#endif
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  FreeAligned(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  FreeAligned(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  FreeAligned(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  FreeAligned(block);
}
