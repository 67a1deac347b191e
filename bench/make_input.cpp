// make_input: writes an ostrevic file (.ost) of a chosen size for the benchmark.
//
//   make_input SOURCE_TEXT OUT.ost SIZE_BYTES [EXPECTED_OUT]
//
// The source text is encoded over and over until the file is about to exceed
// SIZE_BYTES; the result never exceeds it and always ends with a whole code
// followed by CR LF. The file starts with one short lead-in line, then "=+",
// then codes separated by single spaces, broken into CR LF lines of at most
// 70 characters.
//
// With EXPECTED_OUT, it also writes what quarvend should print for the file:
// the decoded bytes, with every line feed written as CR LF.
//
// Bytes of the source that have no code (controls, DEL, 128..160) are skipped;
// that includes CR, so CR LF line ends in the source become a single code 0.

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kLineWidth = 70;
constexpr std::string_view kLeadIn =
    "quarvend benchmark input, made by bench/make_input\r\n";
constexpr std::string_view kMarker = "=+";

// Code for each byte value, or -1 when the byte cannot be written.
std::array<int, 256> build_table() {
  std::array<int, 256> t{};
  t.fill(-1);
  t['\n'] = 0;
  for (int i = 0; i < 26; ++i) {
    t['A' + i] = 1 + i;
    t['a' + i] = 27 + i;
  }
  for (int i = 0; i < 10; ++i) t['0' + i] = 53 + i;
  // Punctuation and space take codes 63..95, in this order.
  constexpr std::string_view punct = "~!@#$%^&*()_+`-={}|[]\\:\";'<>?,./ ";
  static_assert(punct.size() == 33);
  for (std::size_t i = 0; i < punct.size(); ++i) {
    t[static_cast<unsigned char>(punct[i])] = 63 + static_cast<int>(i);
  }
  for (int b = 161; b <= 255; ++b) t[b] = 96 + (b - 161);
  return t;
}

bool read_file(const char* path, std::string& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

class Writer {
 public:
  explicit Writer(std::FILE* f) : f_(f) { buf_.reserve(kChunk + 64); }
  void put(std::string_view s) {
    buf_.append(s);
    if (buf_.size() >= kChunk) flush();
  }
  bool flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size())
      ok_ = false;
    buf_.clear();
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  std::FILE* f_;
  std::string buf_;
  bool ok_ = true;
};

int usage() {
  std::fprintf(stderr,
               "usage: make_input SOURCE_TEXT OUT.ost SIZE_BYTES [EXPECTED_OUT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return usage();
  const char* src_path = argv[1];
  const char* out_path = argv[2];
  char* end = nullptr;
  errno = 0;
  unsigned long long size = std::strtoull(argv[3], &end, 10);
  if (errno != 0 || end == argv[3] || *end != '\0') return usage();
  const char* expect_path = argc == 5 ? argv[4] : nullptr;

  const std::array<int, 256> table = build_table();

  std::string text;
  if (!read_file(src_path, text)) {
    std::fprintf(stderr, "make_input: cannot read %s: %s\n", src_path,
                 std::strerror(errno));
    return 1;
  }
  // The codes of the text, in order, as the strings that go into the file.
  std::vector<int> codes;
  codes.reserve(text.size());
  for (unsigned char c : text) {
    if (table[c] >= 0) codes.push_back(table[c]);
  }
  if (codes.empty()) {
    std::fprintf(stderr, "make_input: %s has no bytes that can be encoded\n", src_path);
    return 1;
  }
  std::array<std::string, 191> token;
  std::array<unsigned char, 191> byte_of{};
  for (int b = 0; b < 256; ++b) {
    if (table[b] >= 0) {
      token[table[b]] = std::to_string(table[b]);
      byte_of[table[b]] = static_cast<unsigned char>(b);
    }
  }

  const std::size_t head = kLeadIn.size() + kMarker.size();
  // Room for the header, one code of up to three digits and the final CR LF.
  if (size < head + 3 + 2) {
    std::fprintf(stderr, "make_input: size %llu is too small (need at least %zu)\n", size,
                 head + 5);
    return 1;
  }

  std::FILE* out = std::fopen(out_path, "wb");
  if (!out) {
    std::fprintf(stderr, "make_input: cannot write %s: %s\n", out_path,
                 std::strerror(errno));
    return 1;
  }
  std::FILE* expect = nullptr;
  if (expect_path) {
    expect = std::fopen(expect_path, "wb");
    if (!expect) {
      std::fprintf(stderr, "make_input: cannot write %s: %s\n", expect_path,
                   std::strerror(errno));
      std::fclose(out);
      return 1;
    }
  }

  Writer w(out);
  w.put(kLeadIn);
  w.put(kMarker);
  std::string decoded;  // only filled when EXPECTED_OUT is asked for

  unsigned long long total = head;
  std::size_t line_len =
      kMarker.size();  // "=+" shares the first line with the first codes
  bool first = true;
  std::size_t i = 0;
  for (;;) {
    const int code = codes[i];
    const std::string& tok = token[code];
    std::string_view sep;
    if (!first) sep = (line_len + 1 + tok.size() > kLineWidth) ? "\r\n" : " ";
    if (total + sep.size() + tok.size() + 2 > size) break;
    w.put(sep);
    w.put(tok);
    total += sep.size() + tok.size();
    line_len = (sep == "\r\n" ? 0 : line_len + sep.size()) + tok.size();
    first = false;
    if (expect) {
      if (code == 0)
        decoded += "\r\n";
      else
        decoded += static_cast<char>(byte_of[code]);
      if (decoded.size() >= (1u << 20)) {
        std::fwrite(decoded.data(), 1, decoded.size(), expect);
        decoded.clear();
      }
    }
    if (++i == codes.size()) i = 0;
  }
  w.put("\r\n");

  bool ok = w.flush();
  if (std::fclose(out) != 0) ok = false;
  if (expect) {
    if (std::fwrite(decoded.data(), 1, decoded.size(), expect) != decoded.size())
      ok = false;
    if (std::fclose(expect) != 0) ok = false;
  }
  if (!ok) {
    std::fprintf(stderr, "make_input: write error\n");
    return 1;
  }
  return 0;
}
