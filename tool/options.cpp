// The options: a table for getopt_long, and the checks of what they ask.
//
// getopt_long runs in its "-" mode: operands come back in their place, as
// option 1, so that the one file operand is found wherever it stands
// without reordering the arguments and whatever POSIXLY_CORRECT says; and
// in its ":" mode, silent, a missing value reported as ':'. Its messages
// are replaced by the tool's own, which name the argument at fault.
#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kConfLevel = 'L';  // long only
constexpr int kNullOr = 'N';     // long only

constexpr char kShort[] = "-:bplHksa:f:c:d:g:";
constexpr option kLong[] = {
    {"batch", no_argument, nullptr, 'b'},       {"precise", no_argument, nullptr, 'p'},
    {"log10", no_argument, nullptr, 'l'},       {"header", no_argument, nullptr, 'H'},
    {"keep", no_argument, nullptr, 'k'},        {"alternative", required_argument, nullptr, 'a'},
    {"fields", required_argument, nullptr, 'f'}, {"conf-level", required_argument, nullptr, kConfLevel},
    {"columns", required_argument, nullptr, 'c'}, {"delimiter", required_argument, nullptr, 'd'},
    {"null-or", required_argument, nullptr, kNullOr}, {"strata", no_argument, nullptr, 's'},
    {"group", required_argument, nullptr, 'g'},       {nullptr, 0, nullptr, 0},
};

// Each option as the messages name it, and what they say where its value
// is missing.
struct Spelling {
  int key;
  const char* spelled;
  const char* missing;  // for an option that takes a value
};
constexpr Spelling kSpellings[] = {
    {'b', "--batch", nullptr},
    {'p', "--precise", nullptr},
    {'l', "--log10", nullptr},
    {'H', "--header", nullptr},
    {'k', "--keep", nullptr},
    {'a', "--alternative", "--alternative needs a name"},
    {'f', "--fields", "--fields needs a list"},
    {kConfLevel, "--conf-level", "--conf-level needs a value"},
    {'c', "--columns", "--columns needs a list"},
    {'d', "--delimiter", "--delimiter needs a character"},
    {kNullOr, "--null-or", "--null-or needs a value"},
    {'s', "--strata", nullptr},
    {'g', "--group", "--group needs a column"},
};

const Spelling& SpellingOf(int key) {
  const Spelling* s = std::find_if(std::begin(kSpellings), std::end(kSpellings),
                                   [key](const Spelling& x) { return x.key == key; });
  return s != std::end(kSpellings) ? *s : kSpellings[0];
}

// The long option that the argument "--name[=value]" names in full, or null.
const option* Named(const char* argument) {
  const char* name = argument + 2;
  const std::size_t length = std::strcspn(name, "=");
  for (const option* o = kLong; o->name != nullptr; ++o) {
    if (std::strlen(o->name) == length && std::strncmp(o->name, name, length) == 0) return o;
  }
  return nullptr;
}

bool Fail(Fault* fault, const char* text, const char* detail = nullptr) {
  fault->text = text;
  fault->detail = detail;
  return false;
}

}  // namespace

// Such a decimal is M / 10^k with M < 2^53 and k <= 22, both exact
// doubles, so one division rounds it correctly, as strtod would.
const char* ParseLevel(const char* text, double* level) {
  constexpr const char* kNotALevel = "--conf-level must be a decimal strictly between 0 and 1";
  std::uint64_t m = 0;
  int digits = 0, scale = 0;  // value = m * 10^scale
  bool any = false, point = false;
  const char* p = text;
  for (;; ++p) {
    if (*p == '.' && !point) {
      point = true;
    } else if (*p >= '0' && *p <= '9') {
      any = true;
      if (m == 0 && *p == '0') {
        if (point) --scale;
        continue;
      }
      if (++digits > 15) return "--conf-level takes a decimal of at most 15 significant digits";
      m = m * 10 + static_cast<std::uint64_t>(*p - '0');
      if (point) --scale;
    } else {
      break;
    }
  }
  if (!any) return kNotALevel;
  if (*p == 'e' || *p == 'E') {
    ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    int e = 0;
    if (*p < '0' || *p > '9') return kNotALevel;
    for (; *p >= '0' && *p <= '9'; ++p) {
      if (e < 1000) e = e * 10 + (*p - '0');
    }
    scale += negative ? -e : e;
  }
  if (*p != '\0' || m == 0 || scale < -22 || scale > 0) return kNotALevel;
  double power = 1;
  for (int i = 0; i < -scale; ++i) power *= 10;  // exact up to 10^22
  *level = static_cast<double>(m) / power;
  return *level < 1 ? nullptr : kNotALevel;
}

bool ParseOptions(int argc, char* argv[], Options* options, Fault* fault) {
  *options = Options{};
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    options->action = Action::kHelp;
    return true;
  }
  if (argc == 2 && (std::strcmp(argv[1], "-V") == 0 || std::strcmp(argv[1], "--version") == 0)) {
    options->action = Action::kVersion;
    return true;
  }
  Request& request = options->batch.request;
  const char* columns = nullptr;  // the --columns list, read once --header is known
  const char* delimiter = nullptr;
  const char* group = nullptr;  // the --group column
  bool strata = false;
  bool batch = false, precise = false, log10 = false, null_or = false;
  const char* batch_only = nullptr;  // the first option that needs --batch
  const char* second_file = nullptr;
  auto operand = [&](const char* arg) {
    if (options->file != nullptr && second_file == nullptr) second_file = arg;
    if (options->file == nullptr) options->file = arg;
  };

  optind = 0;  // a fresh scan, whatever came before
  opterr = 0;
  bool in_cluster = false;  // the last call stopped inside a cluster of short options
  for (;;) {
    const int at = optind == 0 ? 1 : optind;
    const char* element = !in_cluster && at < argc ? argv[at] : nullptr;
    const int key = getopt_long(argc, argv, kShort, kLong, nullptr);
    in_cluster = optind == at && key != -1;
    if (key == -1) break;
    if (key == 1) {
      operand(optarg);
      continue;
    }
    // A long option: named in full, with a value only where it takes one.
    const bool long_form = element != nullptr && element[0] == '-' && element[1] == '-';
    if (long_form) {
      const option* named = Named(element);
      if (named == nullptr) return Fail(fault, "unknown option", element);
      if (named->has_arg == no_argument && std::strchr(element, '=') != nullptr) {
        return Fail(fault, "this option takes no value", element);
      }
    }
    const char* value = optarg;
    if (key == ':') return Fail(fault, SpellingOf(optopt).missing);
    if (key == '?') {
      if (optopt >= '0' && optopt <= '9') return Fail(fault, "expected five arguments a b c d test, or --batch");
      std::snprintf(fault->buffer, sizeof fault->buffer, "-%c", optopt);
      return Fail(fault, "unknown option", fault->buffer);
    }
    // --name= with nothing after the sign takes the next argument.
    if (long_form && value != nullptr && *value == '\0' && std::strchr(element, '=') != nullptr) {
      if (optind >= argc) return Fail(fault, SpellingOf(key).missing);
      value = argv[optind++];
    }
    if (key != 'b' && batch_only == nullptr) batch_only = SpellingOf(key).spelled;
    if (value == nullptr && SpellingOf(key).missing != nullptr) return Fail(fault, SpellingOf(key).missing);
    switch (key) {
      case 'b':
        batch = true;
        break;
      case 'p':
        precise = true;
        break;
      case 'l':
        log10 = true;
        break;
      case 'H':
        options->batch.header = true;
        break;
      case 'k':
        options->batch.keep = true;
        break;
      case 'c':
        columns = value;
        break;
      case 's':
        strata = true;
        break;
      case 'g':
        group = value;
        break;
      case 'd':
        delimiter = value;
        break;
      case 'a':
        if (!ParseAlternative(value, &request.alternative)) {
          return Fail(fault, "unknown alternative (less, greater or two-sided)", value);
        }
        break;
      case 'f': {
        const char* bad;
        std::size_t bad_length;
        if (!ParseFieldList(value, &request, &bad, &bad_length)) {
          if (request.field_count == kMaxFields) return Fail(fault, "too many fields (at most 16)", value);
          if (bad_length == 0) return Fail(fault, "unknown field", "(empty)");
          std::snprintf(fault->buffer, sizeof fault->buffer, "%.*s",
                        static_cast<int>(bad_length < 48 ? bad_length : 48), bad);
          return Fail(fault, "unknown field", fault->buffer);
        }
        break;
      }
      case kNullOr: {
        // A positive number, read in full (strtod rounds it correctly).
        char* end = nullptr;
        const double psi = std::strtod(value, &end);
        if (end == value || *end != '\0' || !(psi > 0) || !std::isfinite(psi)) {
          return Fail(fault, "--null-or must be a positive number", value);
        }
        request.null_or = psi;
        null_or = true;
        break;
      }
      default:  // kConfLevel
        if (const char* text = ParseLevel(value, &request.conf_level)) return Fail(fault, text, value);
        break;
    }
  }
  for (int i = optind; i < argc; ++i) operand(argv[i]);  // after "--"
  if (!batch) {
    if (batch_only != nullptr) return Fail(fault, "this option needs --batch", batch_only);
    return Fail(fault, "expected five arguments a b c d test, or --batch");
  }
  if (second_file != nullptr) return Fail(fault, "more than one file", second_file);
  if (precise && log10) return Fail(fault, "--precise and --log10 exclude each other");
  if (request.alternative == Alternative::kNone && Asks(request, Field::kMidP)) {
    return Fail(fault, "the field mid-p needs --alternative");
  }
  if (request.alternative == Alternative::kNone && null_or) return Fail(fault, "--null-or needs --alternative");
  const bool many = strata || group != nullptr;
  if (strata && group != nullptr) return Fail(fault, "--strata and --group exclude each other");
  if (many) {
    const char* spelled = strata ? "--strata" : "--group";
    if (request.alternative == Alternative::kNone) {
      std::snprintf(fault->buffer, sizeof fault->buffer, "%s needs --alternative", spelled);
      return Fail(fault, fault->buffer);
    }
    if (group != nullptr && columns == nullptr) return Fail(fault, "--group needs --columns (four columns a, b, c, d)");
    if (group != nullptr && options->batch.keep) return Fail(fault, "--keep and --group exclude each other");
    if (Asks(request, Field::kSampleOddsRatio)) {
      return Fail(fault, "the field sample-or is one table's: the strata have mh-or");
    }
    if (null_or) return Fail(fault, "--null-or is one table's, not the strata's");
  } else if (Asks(request, Field::kMhOddsRatio)) {
    return Fail(fault, "the field mh-or needs --strata or --group");
  }
  LineLayout& layout = options->batch.layout;
  layout.strata = strata;
  layout.entries = request.alternative == Alternative::kNone ? 5 : 4;
  if (delimiter != nullptr) {
    if (columns == nullptr) return Fail(fault, "--delimiter needs --columns");
    // One byte, or \t for a tab.
    if (std::strcmp(delimiter, "\\t") == 0) delimiter = "\t";
    if (std::strlen(delimiter) != 1 || *delimiter == '\n' || *delimiter == '\r') {
      return Fail(fault, "--delimiter needs one character", delimiter);
    }
    layout.delimiter = request.separator = *delimiter;
  }
  if (columns != nullptr) {
    if (const char* text = ParseColumnList(columns, options->batch.header, &layout)) {
      return Fail(fault, text, columns);
    }
    if (strata) {
      if (layout.columns % 4 != 0) return Fail(fault, "--columns takes 4 K columns (a1, b1, c1, d1, a2, ...) with --strata", columns);
    } else if (layout.columns != layout.entries) {
      return Fail(fault,
                  layout.entries == 4 ? "--columns takes 4 columns (a, b, c, d) with --alternative"
                                      : "--columns needs 5 columns (a, b, c, d, test) without --alternative",
                  columns);
    }
  }
  if (group != nullptr) {
    // The group's column follows a, b, c, d as one more entry.
    const std::size_t length = std::strlen(group);
    bool number = length > 0 && length <= 9;
    for (std::size_t i = 0; i < length; ++i) number = number && group[i] >= '0' && group[i] <= '9';
    layout.name[4] = nullptr;
    layout.name_length[4] = 0;
    if (number) {
      layout.column[4] = static_cast<int>(std::strtol(group, nullptr, 10));
      if (layout.column[4] == 0) return Fail(fault, "--group: columns are numbered from 1", group);
    } else {
      if (!options->batch.header || length == 0) return Fail(fault, "--group names a column only with --header", group);
      layout.name[4] = group;
      layout.name_length[4] = length;
      layout.column[4] = 0;
    }
    layout.group = 4;
    layout.columns = 5;
    SortColumns(&layout);
  }
  request.format = precise ? BatchFormat::kPrecise : log10 ? BatchFormat::kLog10 : BatchFormat::kSixDecimals;
  if (options->file != nullptr && std::strcmp(options->file, "-") == 0) options->file = nullptr;
  return true;
}
