#include "tools/quorvel-ini/console.hpp"

namespace quorvel {

std::vector<std::string> consoleArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace quorvel
