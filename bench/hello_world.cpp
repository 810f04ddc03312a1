// The smallest C++ program that prints a line, built with the same compiler
// and flags as kelvora: the floor against which tools/startup_bench.py
// measures the program's start-up.
#include <iostream>

int main() {
  std::cout << "Hello, world!\n";
  return 0;
}
