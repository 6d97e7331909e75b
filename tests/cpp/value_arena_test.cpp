#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "value/value.hpp"

namespace hexalume {
namespace {

using value::Arena;

// Each case runs on a thread of its own, whose pool starts empty and is freed when it ends (the
// sanitizer build reports any block left behind).
void on_fresh_thread(const std::function<void()>& body) {
  std::thread thread(body);
  thread.join();
}

// Allocates `mebibytes` in 64 KiB pieces and writes them, so the arena grows into huge blocks.
std::unique_ptr<Arena> filled(std::size_t mebibytes) {
  auto arena = std::make_unique<Arena>();
  for (std::size_t piece = 0; piece < mebibytes * 16; ++piece) {
    std::memset(arena->allocate(std::size_t{64} << 10, 8), 0x5a, std::size_t{64} << 10);
  }
  return arena;
}

TEST(arena, released_huge_blocks_serve_the_next_arena) {
  on_fresh_thread([] {
    EXPECT_EQ(Arena::pooled_blocks(), 0u);
    filled(12).reset();
    const std::size_t pooled = Arena::pooled_blocks();
    EXPECT_GE(pooled, 3u);
    EXPECT_LE(pooled, 8u);
    auto second = filled(12);
    EXPECT_EQ(Arena::pooled_blocks(), 0u);  // the same sizes take every pooled block back
    second.reset();
    EXPECT_EQ(Arena::pooled_blocks(), pooled);
    // Small arenas never touch the pool.
    Arena small;
    small.allocate(100, 8);
    EXPECT_EQ(Arena::pooled_blocks(), pooled);
  });
}

TEST(arena, blocks_go_to_the_thread_that_releases_them) {
  std::unique_ptr<Arena> moved;
  std::size_t left_on_maker = 1;
  on_fresh_thread([&] {
    moved = filled(12);
    left_on_maker = Arena::pooled_blocks();
  });
  EXPECT_EQ(left_on_maker, 0u);
  on_fresh_thread([&] {
    EXPECT_EQ(Arena::pooled_blocks(), 0u);
    moved.reset();
    EXPECT_GE(Arena::pooled_blocks(), 3u);
  });
}

TEST(arena, adopted_blocks_are_released_once) {
  on_fresh_thread([] {
    auto into = filled(6);
    into->adopt(std::move(*filled(6)));
    into.reset();
    const std::size_t pooled = Arena::pooled_blocks();
    EXPECT_GE(pooled, 2u);
    EXPECT_LE(pooled, 16u);
  });
}

}  // namespace
}  // namespace hexalume
