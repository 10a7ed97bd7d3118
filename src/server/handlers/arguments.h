#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quorvel {

/// The member `key` of `arguments` when `arguments` is an object and the member a string.
inline const std::string* string_argument(const nlohmann::json& arguments, const char* key) {
  if (!arguments.is_object()) return nullptr;
  auto it = arguments.find(key);
  if (it == arguments.end() || !it->is_string()) return nullptr;
  return &it->get_ref<const std::string&>();
}

}  // namespace quorvel
