#include "util/orderly_stop.hpp"

#include "util/console.hpp"

namespace kelvora {

void orderly_stop(Console& console, std::string_view message) {
  console.exact(message);
  throw Orderly_stop(std::string(message));
}

}  // namespace kelvora
