#pragma once
// The cipher's initial subkeys and S-boxes (generated; see make_blowfish_tables.py).
#include <cstdint>

namespace blowfish_tables {
extern const uint32_t kInitialP[18];
extern const uint32_t kInitialS[4][256];
}  // namespace blowfish_tables
