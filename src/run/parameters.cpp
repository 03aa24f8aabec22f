// The parameter file: entries "value # keyword", read into the model record
// and the run settings.
//
// The scan is that of the C format "%s # %s\n": skip white space and read a
// value token; skip white space; if the next character is '#', take it, skip
// white space, read a keyword token and skip the white space after it.
// Anything else (a comment word, a value without '#') is dropped token by
// token. Keywords are compared as whole, case-sensitive strings; a keyword
// given twice takes the later value. The scan is bounded: a token of 600
// characters or more is refused instead of overrunning a buffer.
//
// After the scan, r_ign_in and r_ign_out are converted from units of
// r_out_disk to cm and texp from days to seconds.
#include "run/parameters.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "output/fatal.h"
#include "run/model.h"
#include "run/settings.h"

namespace {

using token = std::array<char, NAME_CAPACITY>;

constexpr int SHOWN_PREFIX = 40;  // characters of an overlong token quoted in the refusal

int skip_white_space(FILE* in) {
  int c;
  do c = std::getc(in);
  while (c != EOF && std::isspace(c));
  return c;
}

// Reads one token into buf; an empty buf means end of input.
bool read_token(FILE* in, token& buf, refusal_text& why) {
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
    c = std::getc(in);
  }
  buf[n] = '\0';
  if (c != EOF) std::ungetc(c, in);
  return true;
}

// One entry: a value token and, when '#' follows, a keyword token.
bool scan_entry(FILE* in, token& field_value, token& field_name, refusal_text& why) {
  if (!read_token(in, field_value, why)) return false;
  if (field_value[0] == '\0') return true;
  const int c = skip_white_space(in);
  if (c != '#') {
    if (c != EOF) std::ungetc(c, in);
    return true;
  }
  if (!read_token(in, field_name, why)) return false;
  if (field_name[0] == '\0') return true;
  const int after = skip_white_space(in);
  if (after != EOF) std::ungetc(after, in);
  return true;
}

bool convert_double(const token& value, double* destination) {
  char* end = nullptr;
  const double v = std::strtod(value.data(), &end);
  if (end != value.data()) *destination = v;
  return true;
}

// A leading decimal integer; the rest of the token is ignored (3.7 gives 3).
bool convert_int(const token& value, const char* keyword, int* destination, refusal_text& why) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(value.data(), &end, 10);
  if (end == value.data()) return true;
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
    return refuse(why, "Invalid parameter file: %s = %s is outside the range of an integer", keyword, value.data());
  *destination = static_cast<int>(v);
  return true;
}

bool store(const token& field_name, const token& field_value, gmodel* mod, refusal_text& why) {
  struct real_entry {
    const char* keyword;
    double* destination;
  };
  const real_entry reals[] = {
      {"mass", &mod->mass},         {"mdisk", &mod->mdisk},         {"r_out_disk", &mod->r_out_disk},
      {"l", &mod->l},               {"r_ign_in", &mod->r_ign_in},   {"r_ign_out", &mod->r_ign_out},
      {"sigma_index", &mod->sigma_index}, {"texp", &mod->texp},     {"kappa", &mod->kappa},
      {"MIN_TIME", &MIN_TIME},      {"MAX_TIME", &MAX_TIME},
  };
  for (const auto& e : reals)
    if (std::strcmp(field_name.data(), e.keyword) == 0) return convert_double(field_value, e.destination);

  struct int_entry {
    const char* keyword;
    int* destination;
  };
  const int_entry ints[] = {{"NUM_TIME", &NUM_TIME}, {"save", &save}, {"flag_outer", &mod->flag_outer}};
  for (const auto& e : ints)
    if (std::strcmp(field_name.data(), e.keyword) == 0) return convert_int(field_value, e.keyword, e.destination, why);

  if (std::strcmp(field_name.data(), "name") == 0) {
    std::memcpy(NAME.data(), field_value.data(), NAME.size());
    return true;
  }
  if (std::strcmp(field_name.data(), "mdot_out") == 0) return convert_double(field_value, &mod->mdot_out);
  if (std::strcmp(field_name.data(), "fast") == 0) return convert_int(field_value, "fast", &fast, why);
  return true;
}

}  // namespace

bool scan_parameters(FILE* IN, gmodel* mod, refusal_text& why) {
  token field_value{};
  token field_name{};
  std::snprintf(field_value.data(), field_value.size(), "---");
  bool accepted = true;
  while (accepted && field_value[0] != '\0') {
    field_value[0] = '\0';
    field_name[0] = '\0';
    accepted = scan_entry(IN, field_value, field_name, why);
    if (!accepted || field_name[0] == '\0') continue;
    accepted = store(field_name, field_value, mod, why);
  }
  std::fclose(IN);
  if (!accepted) return false;
  mod->r_ign_in = mod->r_ign_in * mod->r_out_disk;
  mod->r_ign_out = mod->r_out_disk * mod->r_ign_out;
  mod->texp = phys::seconds_per_day * mod->texp;
  return true;
}

void read_parameters(FILE* IN, gmodel* mod) {
  refusal_text why{};
  if (!scan_parameters(IN, mod, why)) refuse_model("%s", why.data());
}
