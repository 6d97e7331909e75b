#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "value/value.hpp"

namespace hexalume {
namespace {

using value::Arena;

// Allocates `mebibytes` in 64 KiB pieces and writes them, so the arena grows into huge blocks.
std::unique_ptr<Arena> filled(std::size_t mebibytes) {
  auto arena = std::make_unique<Arena>();
  for (std::size_t piece = 0; piece < mebibytes * 16; ++piece) {
    std::memset(arena->allocate(std::size_t{64} << 10, 8), 0x5a, std::size_t{64} << 10);
  }
  return arena;
}

// The pool belongs to the process: each case first takes every pooled block into an arena of
// its own, so that its counts start from zero.
TEST(arena, threads_releasing_at_once_keep_the_pool_bounded) {
  auto drain = filled(40);
  std::vector<std::unique_ptr<Arena>> arenas;
  for (int i = 0; i < 4; ++i) arenas.push_back(filled(12));
  std::vector<std::thread> threads;
  for (auto& arena : arenas) threads.emplace_back([&arena] { arena.reset(); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Arena::pooled_blocks(), 16u);
}

TEST(arena, adopted_blocks_are_released_once) {
  auto drain = filled(40);
  auto into = filled(6);
  into->adopt(std::move(*filled(6)));
  into.reset();
  const std::size_t pooled = Arena::pooled_blocks();
  EXPECT_GE(pooled, 2u);
  EXPECT_LE(pooled, 16u);
}

}  // namespace
}  // namespace hexalume
