#pragma once
// Where the random numbers of a fit come from. Two of the minimisers' moves
// draw a fresh sequence each time they run: the tunnel move (tunnel_search.hpp)
// and the polish between the passes of the quasi-Newton minimiser
// (quasi_newton.hpp). The minimisers never seed a generator themselves: before
// each such move they apply the seeding their caller chose for it to the
// caller's generator, and draw from that.

#include "util/random.hpp"

namespace kelvora {

struct Fit_random {
  Random_generator& generator;
  Seeding before_tunnel;  // applied before every tunnel move
  Seeding before_polish;  // applied before every polish

  // The generator, seeded for one tunnel move or one polish.
  Random_generator& for_tunnel() const {
    before_tunnel(generator);
    return generator;
  }
  Random_generator& for_polish() const {
    before_polish(generator);
    return generator;
  }
};

}  // namespace kelvora
