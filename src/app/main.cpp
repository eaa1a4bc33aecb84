#include <iostream>

int main() {
  std::cerr << "Quillfen: the front ends are not wired yet\n";
  return 1;
}
