#include "profile/ini_format.hpp"

#include <array>

namespace quorvel {
namespace {

constexpr std::array<unsigned char, 256> makeFoldTable() {
  std::array<unsigned char, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (unsigned c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<unsigned char>(c + 32);
  // Windows-1252 capitals with accents: C0-DE (D7 is the multiplication sign),
  // and the four capitals that live among the C1 positions.
  for (unsigned c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) t[c] = static_cast<unsigned char>(c + 32);
  t[0x8A] = 0x9A;
  t[0x8C] = 0x9C;
  t[0x8E] = 0x9E;
  t[0x9F] = 0xFF;
  return t;
}
constexpr std::array<unsigned char, 256> kFold = makeFoldTable();

// Ctrl-Z is what DOS-era programs leave at the end of their lines and files;
// the Windows profile functions skip it like a space.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\x1A';
}

struct Line {
  std::size_t begin;
  std::size_t end;   // end of the text, before its line end
  std::size_t next;  // start of the next line
};

// Lines end at CR, LF or CR LF, in any mix.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : bytes_(bytes) {}
  bool next(Line& line) {
    if (pos_ >= bytes_.size()) return false;
    line.begin = pos_;
    std::size_t e = pos_;
    while (e < bytes_.size() && bytes_[e] != '\r' && bytes_[e] != '\n') ++e;
    if (e == bytes_.size()) {
      line.end = line.next = bytes_.size();
    } else {
      line.end = e;
      line.next = e + 1;
      if (bytes_[e] == '\r' && line.next < bytes_.size() && bytes_[line.next] == '\n') ++line.next;
    }
    pos_ = line.next;
    return true;
  }
  std::string_view text(const Line& line) const {
    return bytes_.substr(line.begin, line.end - line.begin);
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

enum class Kind { Blank, Header, Comment, Entry, Other };

struct Parsed {
  Kind kind;
  std::string_view name;   // section of a header, key of an entry
  std::string_view value;  // trimmed value of an entry
};

Parsed parse(std::string_view raw) {
  const std::string_view t = trimProfileBlanks(raw);
  if (t.empty()) return {Kind::Blank, {}, {}};
  if (t.front() == '[') {
    const std::string_view inner = t.substr(1);
    return {Kind::Header, trimProfileBlanks(inner.substr(0, inner.find(']'))), {}};
  }
  if (t.front() == ';') return {Kind::Comment, {}, {}};
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return {Kind::Other, {}, {}};
  return {Kind::Entry, trimProfileBlanks(t.substr(0, eq)), trimProfileBlanks(t.substr(eq + 1))};
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

void appendEntry(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append("=").append(value).append("\r\n");
}

}  // namespace

std::string_view trimProfileBlanks(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameProfileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (kFold[static_cast<unsigned char>(a[i])] != kFold[static_cast<unsigned char>(b[i])])
      return false;
  }
  return true;
}

std::optional<std::string_view> findProfileValue(std::string_view bytes, std::string_view section,
                                                 std::string_view key) {
  section = trimProfileBlanks(section);
  key = trimProfileBlanks(key);
  LineReader lines(bytes);
  Line line{};
  bool inSection = false;
  while (lines.next(line)) {
    const std::string_view raw = lines.text(line);
    // Outside the section only headers matter.
    if (!inSection && trimProfileBlanks(raw).substr(0, 1) != "[") continue;
    const Parsed p = parse(raw);
    if (p.kind == Kind::Header) {
      if (inSection) return std::nullopt;  // the first section of a name wins
      inSection = sameProfileName(p.name, section);
    } else if (inSection && p.kind == Kind::Entry && sameProfileName(p.name, key)) {
      return unquote(p.value);
    }
  }
  return std::nullopt;
}

std::optional<std::string> editProfile(std::string_view bytes, std::string_view section,
                                       std::string_view key, std::string_view value) {
  section = trimProfileBlanks(section);
  key = trimProfileBlanks(key);
  LineReader lines(bytes);
  Line line{};
  bool inSection = false;
  bool sectionFound = false;
  Line anchor{};  // last entry of the section, or its header
  std::string out;
  while (lines.next(line)) {
    const Parsed p = parse(lines.text(line));
    if (p.kind == Kind::Header) {
      if (inSection) break;
      if (sameProfileName(p.name, section)) {
        inSection = sectionFound = true;
        anchor = line;
      }
    } else if (inSection && p.kind == Kind::Entry) {
      if (sameProfileName(p.name, key)) {
        if (p.value == value) return std::nullopt;
        out.reserve(bytes.size() + value.size() + 2);
        out.append(bytes.substr(0, line.begin));
        appendEntry(out, p.name, value);  // the key as the file spells it
        out.append(bytes.substr(line.next));
        return out;
      }
      anchor = line;
    }
  }

  out.reserve(bytes.size() + section.size() + key.size() + value.size() + 10);
  if (sectionFound) {
    out.append(bytes.substr(0, anchor.next));
    if (anchor.next == anchor.end)
      out.append("\r\n");  // the anchor ends the file without a line end
    appendEntry(out, key, value);
    out.append(bytes.substr(anchor.next));
    return out;
  }
  out.append(bytes);
  if (!bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n') out.append("\r\n");
  out.append("[").append(section).append("]\r\n");
  appendEntry(out, key, value);
  return out;
}

}  // namespace quorvel
