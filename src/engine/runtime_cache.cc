#include "engine/runtime_cache.h"

namespace quorvel {

RuntimeCache& runtime_cache() {
  static RuntimeCache* cache = new RuntimeCache();
  return *cache;
}

}  // namespace quorvel
