#pragma once
// Profile contents that the profile tests of both systems start from.
#include <string>

namespace quorvel::test {

// A comment, then section S with k=1; lines end with CR LF, as Windows writes them.
inline const std::string kStart = "; keep\r\n[S]\r\nk=1\r\n";

// The configuration file's section header, in Windows-1252.
inline const std::string kConfigHeader = "[Configura\xE7\xE3o]\r\n";

}  // namespace quorvel::test
