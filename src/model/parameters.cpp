// The parameter file: entries "value # keyword", read into the values of
// the model and the run.
//
// The scan is that of the C format "%s # %s\n": skip white space and read a
// value token; skip white space; if the next character is '#', take it, skip
// white space, read a keyword token and skip the white space after it.
// Anything else (a comment word, a value without '#') is dropped token by
// token. Keywords are compared as whole, case-sensitive strings; a keyword
// given twice takes the later value. The scan is bounded: a token of 600
// characters or more is refused instead of overrunning a buffer.
//
// The reader stays lenient, but it says what it drops when the dropped text
// looks like an entry: a word after '#' that is no keyword (with the keyword
// it most likely means), a value glued to '#' (one token, so no entry), a
// keyword whose value is not a number. Plain comment words stay silent.
//
// The values stay in the file's units; the reader writes no global.
#include "model/parameters.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/settings.h"
#include "output/fatal.h"

namespace {

using token = std::array<char, NAME_CAPACITY>;

constexpr int SHOWN_PREFIX = 40;  // characters of a token quoted in a refusal or warning

// The file, one character at a time, counting lines.
struct source {
  FILE* in;
  int line = 1;
  int get() {
    const int c = std::getc(in);
    if (c == '\n') ++line;
    return c;
  }
  void unget(int c) {
    if (c == EOF) return;
    if (c == '\n') --line;
    std::ungetc(c, in);
  }
};

int skip_white_space(source& in) {
  int c;
  do c = in.get();
  while (c != EOF && std::isspace(c));
  return c;
}

// Reads one token into buf; an empty buf means end of input.
bool read_token(source& in, token& buf, refusal_text& why) {
  buf[0] = '\0';
  int c = skip_white_space(in);
  std::size_t n = 0;
  while (c != EOF && !std::isspace(c)) {
    if (n == buf.size() - 1) {
      buf[n] = '\0';
      return refuse(why, "Invalid parameter file: a token longer than %zu characters (starting \"%.*s\")",
                    buf.size() - 1, SHOWN_PREFIX, buf.data());
    }
    buf[n++] = static_cast<char>(c);
    c = in.get();
  }
  buf[n] = '\0';
  in.unget(c);
  return true;
}

struct entry {
  token value{};
  token keyword{};
  int value_line = 0;
  int keyword_line = 0;
  bool has_hash = false;  // a '#' followed the value
};

// One entry: a value token and, when '#' follows, a keyword token.
bool scan_entry(source& in, entry& e, refusal_text& why) {
  e.has_hash = false;
  e.keyword[0] = '\0';
  if (!read_token(in, e.value, why)) return false;
  e.value_line = in.line;
  if (e.value[0] == '\0') return true;
  const int c = skip_white_space(in);
  if (c != '#') {
    in.unget(c);
    return true;
  }
  e.has_hash = true;
  if (!read_token(in, e.keyword, why)) return false;
  e.keyword_line = in.line;
  if (e.keyword[0] == '\0') return true;
  in.unget(skip_white_space(in));
  return true;
}

void warn_about(const reader_warning& warn, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
void warn_about(const reader_warning& warn, int line, const char* format, ...) {
  if (!warn) return;
  std::array<char, 2 * NAME_CAPACITY> text{};
  va_list args;
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  warn(line, text.data());
}

// A token of the form NUMBER#... : a value written without the blank before '#'.
bool glued_value(const token& value) {
  const char* hash = std::strchr(value.data(), '#');
  if (hash == nullptr || hash == value.data()) return false;
  const std::string number(value.data(), hash);
  char* end = nullptr;
  std::strtod(number.c_str(), &end);
  return end == number.c_str() + number.size();
}

bool convert_double(const entry& e, const parameter_keyword& k, double* destination, const reader_warning& warn) {
  char* end = nullptr;
  const double v = std::strtod(e.value.data(), &end);
  if (end != e.value.data()) *destination = v;
  else warn_about(warn, e.keyword_line, "%s: the value '%.*s' is not a number; the entry is skipped", k.name,
                  SHOWN_PREFIX, e.value.data());
  return true;
}

// A leading decimal integer; the rest of the token is ignored (3.7 gives 3).
bool convert_int(const entry& e, const parameter_keyword& k, int* destination, refusal_text& why,
                 const reader_warning& warn) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(e.value.data(), &end, 10);
  if (end == e.value.data()) {
    warn_about(warn, e.keyword_line, "%s: the value '%.*s' is not a whole number; the entry is skipped", k.name,
               SHOWN_PREFIX, e.value.data());
    return true;
  }
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
    return refuse(why, "Invalid parameter file: %s = %s is outside the range of an integer", k.name, e.value.data());
  *destination = static_cast<int>(v);
  return true;
}

bool store(const entry& e, parameter_values& values, refusal_text& why, const reader_warning& warn) {
  const parameter_keyword* k = find_keyword(e.keyword.data());
  if (k == nullptr) {
    const parameter_keyword* near = nearest_keyword(e.keyword.data());
    if (near != nullptr)
      warn_about(warn, e.keyword_line, "%.*s: not a keyword; did you mean %s?", SHOWN_PREFIX, e.keyword.data(),
                 near->name);
    else
      warn_about(warn, e.keyword_line, "%.*s: not a keyword; the entry is skipped", SHOWN_PREFIX, e.keyword.data());
    return true;
  }
  const keyword_destination d = k->destination(&values);
  if (auto* real = std::get_if<double*>(&d)) return convert_double(e, *k, *real, warn);
  if (auto* integer = std::get_if<int*>(&d)) return convert_int(e, *k, *integer, why, warn);
  auto* text = std::get<std::array<char, NAME_CAPACITY>*>(d);
  std::memcpy(text->data(), e.value.data(), text->size());
  return true;
}

// Optimal string alignment distance (edits: insert, delete, replace, swap
// of neighbours), ignoring case.
int edit_distance(const char* a, const char* b) {
  const std::size_t n = std::strlen(a), m = std::strlen(b);
  if (n > NAME_CAPACITY || m > NAME_CAPACITY) return INT_MAX;
  std::basic_string<int> d((n + 1) * (m + 1), 0);
  auto at = [&d, m](std::size_t i, std::size_t j) -> int& { return d[i * (m + 1) + j]; };
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  for (std::size_t i = 0; i <= n; ++i) at(i, 0) = static_cast<int>(i);
  for (std::size_t j = 0; j <= m; ++j) at(0, j) = static_cast<int>(j);
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const int cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
    }
  }
  return at(n, m);
}

// How many typing errors a keyword of this length may carry and still be recognised.
int tolerated_edits(const char* keyword) {
  const std::size_t n = std::strlen(keyword);
  return n >= 5 ? 2 : n >= 3 ? 1 : 0;
}

}  // namespace

keyword_kind kind_of(const parameter_keyword& k) {
  parameter_values probe{};
  const keyword_destination d = k.destination(&probe);
  if (std::holds_alternative<double*>(d)) return keyword_kind::real;
  if (std::holds_alternative<int*>(d)) return keyword_kind::integer;
  return keyword_kind::text;
}

const parameter_keyword* find_keyword(const char* word) {
  for (const parameter_keyword& k : PARAMETER_KEYWORDS)
    if (std::strcmp(word, k.name) == 0) return &k;
  return nullptr;
}

const parameter_keyword* nearest_keyword(const char* word) {
  const parameter_keyword* best = nullptr;
  int best_distance = INT_MAX;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) {
    const int d = edit_distance(word, k.name);
    if (d <= tolerated_edits(k.name) && d < best_distance) {
      best = &k;
      best_distance = d;
    }
  }
  return best;
}

namespace {

bool whole_number_text(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// A line that starts with a keyword and then gives its value, "KEYWORD = VALUE",
// "KEYWORD=VALUE" or "KEYWORD VALUE" (the form of --check's report and of many
// other programs' files): its words are dropped one by one, so the keyword keeps
// 0, and the reader says so with the entry meant. Only dropped words on one line
// are followed, from the line's first word, and only a value that is a whole
// number completes the form, so prose ("l = 0.25; five output times") is left alone.
class assignment_line {
 public:
  // A word that formed no entry; `first` when it starts its line.
  void dropped(const token& word, int line, bool first, const reader_warning& warn) {
    std::string w(word.data());
    if (first) {
      stage_ = none;
      const std::size_t eq = w.find('=');
      keyword_ = w.substr(0, eq);
      if (find_keyword(keyword_.c_str()) == nullptr) return;
      line_ = line;
      stage_ = eq == std::string::npos ? keyword : equals;
      w = eq == std::string::npos ? "" : w.substr(eq + 1);
      if (w.empty()) return;
    } else if (stage_ == none || line != line_) {
      stage_ = none;
      return;
    } else if (stage_ == keyword && w[0] == '=') {
      stage_ = equals;
      w.erase(0, 1);
      if (w.empty()) return;
    }
    if (whole_number_text(w))
      warn_about(warn, line, "%.*s = %.*s: a keyword before its value is not read (write the value, a blank, '#' "
                 "and the keyword: %.*s # %s)", SHOWN_PREFIX, keyword_.c_str(), SHOWN_PREFIX, w.c_str(),
                 SHOWN_PREFIX, w.c_str(), keyword_.c_str());
    stage_ = none;
  }
  void entry_read() { stage_ = none; }

 private:
  enum { none, keyword, equals } stage_ = none;
  std::string keyword_;
  int line_ = 0;
};

}  // namespace

bool scan_parameter_entries(FILE* IN, parameter_values& values, refusal_text& why, const reader_warning& warn) {
  source in{IN};
  entry e;
  assignment_line assignment;
  int last_line = 0;     // the line of the last word read
  int hash_opened = 0;   // the line that a lone '#' opened, as the previous word read
  while (true) {
    if (!scan_entry(in, e, why)) return false;
    if (e.value[0] == '\0') return true;
    const bool first_on_line = e.value_line != last_line;
    const bool after_opening_hash = hash_opened == e.value_line;
    hash_opened = first_on_line && !e.has_hash && std::strcmp(e.value.data(), "#") == 0 ? e.value_line : 0;
    last_line = e.has_hash && e.keyword[0] != '\0' ? e.keyword_line : e.value_line;
    // "# 1 # save": a line "commented out" the way other files allow is an entry all the same.
    if (after_opening_hash && e.has_hash && e.keyword[0] != '\0' && find_keyword(e.keyword.data()) != nullptr)
      warn_about(warn, e.keyword_line, "%s: read although a '#' starts the line (a parameter file has no comment "
                 "lines: delete the entry to leave it out)", e.keyword.data());
    if (!e.has_hash) {
      if (glued_value(e.value))
        warn_about(warn, e.value_line,
                   "%.*s: a value glued to '#' is not read (write the value, a blank, '#' and the keyword)",
                   SHOWN_PREFIX, e.value.data());
      else
        assignment.dropped(e.value, e.value_line, first_on_line, warn);
      continue;
    }
    assignment.entry_read();
    if (e.keyword[0] == '\0') {
      warn_about(warn, e.value_line, "%.*s #: no keyword after '#' at the end of the file", SHOWN_PREFIX,
                 e.value.data());
      return true;
    }
    if (!store(e, values, why, warn)) return false;
  }
}

namespace {

// The code point of the UTF-8 sequence at s (n bytes read), or -1 where s
// does not start a two- or three-byte sequence.
long utf8_code_point(const unsigned char* s, int* n) {
  if ((s[0] & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
    *n = 2;
    return ((s[0] & 0x1FL) << 6) | (s[1] & 0x3F);
  }
  if ((s[0] & 0xF0) == 0xE0 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
    *n = 3;
    return ((s[0] & 0x0FL) << 12) | ((s[1] & 0x3FL) << 6) | (s[2] & 0x3F);
  }
  return -1;
}

// Characters a terminal shows as nothing, or as a plain space: the
// byte-order mark, the zero-width and directional marks, the no-break and
// other special spaces, the soft hyphen.
bool invisible(long c) {
  return c == 0xA0 || c == 0xAD || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
         (c >= 0x2060 && c <= 0x2064) || c == 0xFEFF;
}

}  // namespace

std::string visible_text(const char* text) {
  std::string shown;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s != '\0') {
    int n = 1;
    const long c = *s >= 0x80 ? utf8_code_point(s, &n) : *s;
    char code[16];
    if ((c >= 0 && c < 0x20 && c != '\t') || c == 0x7F) {
      std::snprintf(code, sizeof code, "\\x%02lx", c);
      shown += code;
    } else if (c > 0x7F && invisible(c)) {
      std::snprintf(code, sizeof code, c < 0x100 ? "\\x%02lx" : "\\u%04lx", c);
      shown += code;
    } else {
      shown.append(reinterpret_cast<const char*>(s), static_cast<std::size_t>(n));
    }
    s += n;
  }
  return shown;
}

void print_reader_warning(FILE* stream, const char* file, int line, const char* text) {
  std::fprintf(stream, "warning: %s line %d: %s\n", file, line, visible_text(text).c_str());
}

void close_parameter_file(FILE* IN, const char* file) {
  const int read_error = std::ferror(IN) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(IN);
  if (read_error == 0) return;
  console_error_begins();
  std::printf(" Cannot read file %s: %s\n", file, std::strerror(read_error));
  err_m(exit_status::file);
}
