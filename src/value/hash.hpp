#pragma once

#include <cstdint>

#include "value/value.hpp"

namespace hexalume::value {

// The secret words of one structural hash function. Input chosen to collide under one key
// collides under another only by chance.
struct HashKey {
  std::uint64_t left;
  std::uint64_t right;
  std::uint64_t tail;
};

// This process's key, drawn from the system's random source on first use.
const HashKey& process_hash_key();

// A key drawn afresh, for a table that meets an input colliding under the one it used.
HashKey fresh_hash_key();

// A 64-bit hash of a whole value under `key`, computed in one pass over its nodes: values that
// `equal` finds equal hash alike (0.0 and -0.0 included; Big numbers as make_big_integer makes
// them), while 1 and 1.0, or a list and its items, hash apart. Every word of the value stays in
// the result whatever the others are: no item or member can cancel what came before it.
std::uint64_t structural_hash(const Node& node, const HashKey& key = process_hash_key());

}  // namespace hexalume::value
