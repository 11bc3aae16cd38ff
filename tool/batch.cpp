// Batch mode: reads lines through a fixed buffer, writes one line per input
// line through another.
#include "batch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output.h"

namespace {

// Input: bytes [start, end) of in_buf are read and not yet consumed; a
// partial line stays at the front while more is read behind it.
constexpr std::size_t kInSize = 1 << 18;
static_assert(kInSize > 2 * (static_cast<std::size_t>(kMaxLineBytes) + 1), "a whole line and room to read behind it");
static_assert(kMaxLineBytes == 65536, "the message says 65536");
char in_buf[kInSize];

// Output, flushed before every read and whenever a line might not fit: a
// line is at most its input, a separator, the fields and "\r\n".
constexpr std::size_t kOutSize = 1 << 18;
constexpr std::size_t kOutLineMax = kMaxLineBytes + 1 + kFieldsTextMax + 2;
static_assert(kOutSize > kOutLineMax, "a whole line must fit");
char out_buf[kOutSize];
std::size_t out_len;
bool out_failed;

const BatchOptions* options;
LineLayout layout;    // the options' layout, its names looked up in the header
bool header_pending;  // the header is yet to come
bool holding;         // nothing is written before the header, whose names may be missing
bool header_fault;
long long reported, unreported;  // malformed lines

constexpr char kMark[3] = {'\xef', '\xbb', '\xbf'};  // UTF-8's byte-order mark

// Writes straight to standard output; a failure ends the output.
bool WriteOut(const char* p, std::size_t n) {
  if (WriteAll(STDOUT_FILENO, p, n)) return true;
  // A closed pipe ends the run quietly, as it does other filters.
  if (errno != EPIPE) ComplainErrno("cannot write to standard output", errno);
  out_failed = true;
  return false;
}

bool Flush() {
  if (out_failed) return false;
  if (out_len > 0 && !WriteOut(out_buf, out_len)) return false;
  out_len = 0;
  return true;
}

// Makes room for n bytes.
void Room(std::size_t n) {
  if (kOutSize - out_len < n) Flush();
}

// Appends bytes of any length.
void Put(const char* p, std::size_t n) {
  if (kOutSize - out_len < n && Flush() && n > kOutSize) {
    WriteOut(p, n);
    return;
  }
  if (out_failed) return;
  std::memcpy(out_buf + out_len, p, n);
  out_len += n;
}

void Report(long long line, const char* fault, int position) {
  if (reported >= kMaxReports) {
    ++unreported;
    return;
  }
  ++reported;
  char text[128];
  const char* unit = layout.columns == 0 ? "field" : "column";
  if (position > 0) {
    std::snprintf(text, sizeof text, "line %lld: %s %d %s", line, unit, position, fault);
  } else {
    std::snprintf(text, sizeof text, "line %lld: %s", line, fault);
  }
  Complain(text);
}

// --group: the current group's key and strata, gathered line by line (the
// one buffer batch mode allocates, freed at the end).
struct Group {
  bool open = false;
  char key[4096];
  std::size_t key_length = 0;
  std::uint64_t* counts = nullptr;
  std::size_t strata = 0, capacity = 0;
  std::uint64_t total = 0;
  const char* fault = nullptr;  // the first fault of its lines, reported with them
  long long first_line = 0;
} group;

// Writes the group's line: its key, the separator and its fields (empty
// where a line of it was malformed or the test failed).
void FlushGroup() {
  if (!group.open) return;
  group.open = false;
  const Request& r = options->request;
  Put(group.key, group.key_length);
  Room(kFieldsTextMax + 3);
  if (out_failed) return;
  out_buf[out_len++] = r.separator;
  std::size_t length = 0;
  if (group.fault == nullptr) {
    const char* fault = nullptr;
    length = WriteStrataFields(r, group.counts, group.strata, out_buf + out_len, &fault);
    if (fault != nullptr) Report(group.first_line, fault, 0);
  }
  if (length == 0) {
    for (int i = 1; i < r.field_count; ++i) out_buf[out_len++] = r.separator;
  }
  out_len += length;
  out_buf[out_len++] = '\n';
}

// One line of a group: a stratum, or a fault that spoils its group.
void GroupLine(const ParsedLine& parsed, long long line) {
  if (parsed.kind == LineKind::kBlank || parsed.kind == LineKind::kComment) return;
  const bool keyed = parsed.key != nullptr;
  if (keyed && (!group.open || parsed.key_length != group.key_length ||
                std::memcmp(parsed.key, group.key, group.key_length) != 0)) {
    FlushGroup();
    group.open = true;
    group.key_length = parsed.key_length < sizeof group.key ? parsed.key_length : sizeof group.key;
    std::memcpy(group.key, parsed.key, group.key_length);
    group.strata = 0;
    group.total = 0;
    group.fault = nullptr;
    group.first_line = line;
  }
  const char* fault = nullptr;
  int position = 0;
  if (parsed.kind == LineKind::kMalformed) {
    fault = parsed.fault, position = parsed.position;
  } else if (parsed.kind == LineKind::kNegative) {
    fault = "has a negative count";
  } else if (parsed.key_length == 0) {
    fault = "has an empty group";
    position = layout.column[layout.group];
  }
  if (fault == nullptr) {
    std::uint64_t n = parsed.counts[0] + parsed.counts[1] + parsed.counts[2] + parsed.counts[3];
    if (n > static_cast<std::uint64_t>(INT64_MAX) - group.total) fault = "takes its group's total beyond 2^63 - 1";
    group.total += n;
  }
  if (fault == nullptr && group.strata == group.capacity) {
    const std::size_t capacity = group.capacity * 2 + 64;
    void* p = std::realloc(group.counts, capacity * 4 * sizeof(std::uint64_t));
    if (p == nullptr) {
      fault = "cannot be held: memory was refused";
    } else {
      group.counts = static_cast<std::uint64_t*>(p);
      group.capacity = capacity;
    }
  }
  if (fault != nullptr) {
    Report(line, fault, position);
    if (group.open && group.fault == nullptr) group.fault = fault;
    return;
  }
  std::memcpy(group.counts + 4 * group.strata, parsed.counts, 4 * sizeof(std::uint64_t));
  ++group.strata;
}

// The header: the names of the columns looked up; written as the fields'
// names. False after a fault.
bool Header(const char* p, const char* end) {
  header_pending = holding = false;
  char text[160];
  if (const char* fault = ReadHeader(&layout, p, end, text, sizeof text)) {
    Complain(fault);
    header_fault = true;
    out_len = 0;  // nothing before it is written
    return false;
  }
  return true;
}

// What follows the line's input: the fields (or their names on the header
// line) and the line end. cr: the input line ended in "\r\n", which --keep
// keeps.
void EndLine(const ParsedLine& parsed, bool header, bool cr, long long line) {
  Room(kFieldsTextMax + 3);
  if (out_failed) return;
  const Request& r = options->request;
  const bool keep = options->keep;
  if (layout.group >= 0 && !header) {
    GroupLine(parsed, line);
    return;
  }
  if (header && layout.group >= 0) {
    // The group's column by its name in the header, then the fields'.
    const char* name = layout.name[layout.group] != nullptr ? layout.name[layout.group] : "group";
    const std::size_t length = layout.name[layout.group] != nullptr ? layout.name_length[layout.group] : 5;
    for (std::size_t i = 0; i < length && i < 4096; ++i) out_buf[out_len++] = name[i];
    out_buf[out_len++] = r.separator;
  }
  if (header) {
    for (int i = 0; i < r.field_count; ++i) {
      if (i > 0 || keep) out_buf[out_len++] = r.separator;
      for (const char* name = FieldName(r.fields[i]); *name != '\0'; ++name) out_buf[out_len++] = *name;
    }
  } else if (parsed.kind == LineKind::kTable && layout.strata) {
    if (keep) out_buf[out_len++] = r.separator;
    const char* fault = nullptr;
    const std::size_t length = WriteStrataFields(r, parsed.strata_counts, parsed.strata, out_buf + out_len, &fault);
    out_len += length;
    if (fault != nullptr) {
      if (keep) {
        for (int i = 1; i < r.field_count; ++i) out_buf[out_len++] = r.separator;
      }
      Report(line, fault, 0);
    }
  } else if (parsed.kind == LineKind::kTable) {
    if (keep) out_buf[out_len++] = r.separator;
    out_len += WriteFields(r, parsed.counts, parsed.one_tailed, out_buf + out_len);
  } else if (keep && (parsed.kind == LineKind::kNegative || parsed.kind == LineKind::kMalformed)) {
    for (int i = 0; i < r.field_count; ++i) out_buf[out_len++] = r.separator;  // empty fields
  }
  if (keep && cr) out_buf[out_len++] = '\r';
  out_buf[out_len++] = '\n';
  if (parsed.kind == LineKind::kMalformed && !header) Report(line, parsed.fault, parsed.position);
}

bool IsHeader(const ParsedLine& parsed) {
  return header_pending && parsed.kind != LineKind::kBlank && parsed.kind != LineKind::kComment;
}

// A line held whole, [p, end) without its "\n".
void Whole(const char* p, const char* end, long long line) {
  const bool cr = end > p && end[-1] == '\r';
  if (cr) --end;
  ParsedLine parsed;
  ParseLine(layout, p, end, &parsed);
  const bool header = IsHeader(parsed);
  if (header && !Header(p, end)) return;
  if (options->keep) Put(p, static_cast<std::size_t>(end - p));
  EndLine(parsed, header, cr, line);
}

// A line longer than kMaxLineBytes: its first kMaxLineBytes are parsed, the
// rest only checked against what may follow them, and passed through.
struct Cut {
  bool active;
  bool header;
  ParsedLine parsed;
  Rest rest;
  bool too_long;    // the rest holds what may not follow
  bool pending_cr;  // the bytes so far end in '\r', which may be the line end
} cut;

void CheckRest(const char* p, const char* end) {
  if (cut.rest == Rest::kNothing) {
    cut.too_long = cut.too_long || p < end;
    return;
  }
  for (; cut.rest == Rest::kBlanksOrComment && p < end; ++p) {
    if (*p == '#') {
      cut.rest = Rest::kAnything;
    } else if (*p != ' ' && *p != '\t') {
      cut.too_long = true;
      cut.rest = Rest::kAnything;  // nothing more to learn
    }
  }
}

void BeginCut(const char* p) {
  cut.active = true;
  cut.too_long = cut.pending_cr = false;
  ParseLine(layout, p, p + kMaxLineBytes, &cut.parsed);
  cut.rest = cut.parsed.rest;
  cut.header = IsHeader(cut.parsed);
  if (cut.header && !Header(p, p + kMaxLineBytes)) return;
  if (options->keep) Put(p, kMaxLineBytes);
}

// More of the line, without its "\n".
void MoreCut(const char* p, const char* end) {
  if (p == end) return;
  if (cut.pending_cr) {
    constexpr char kCr = '\r';
    CheckRest(&kCr, &kCr + 1);
    if (options->keep) Put(&kCr, 1);
    cut.pending_cr = false;
  }
  if (end[-1] == '\r') {
    cut.pending_cr = true;
    --end;
  }
  CheckRest(p, end);
  if (options->keep) Put(p, static_cast<std::size_t>(end - p));
}

void EndCut(long long line) {
  cut.active = false;
  if (cut.too_long && !cut.header) {
    cut.parsed.kind = LineKind::kMalformed;
    cut.parsed.fault = "longer than 65536 bytes";
    cut.parsed.position = 0;
  }
  EndLine(cut.parsed, cut.header, cut.pending_cr, line);
}

}  // namespace

int RunBatch(int fd, const char* name, const BatchOptions& how) {
  options = &how;
  layout = how.layout;
  header_pending = how.header;
  holding = false;
  for (int k = 0; k < layout.columns; ++k) holding = holding || (how.header && layout.name[k] != nullptr);
  header_fault = false;
  cut.active = false;
  out_len = 0;
  out_failed = false;
  reported = unreported = 0;
  int status = 0;
  bool mark_pending = how.header;  // the byte-order mark may be yet to come
  std::size_t start = 0, end = 0;
  long long line = 0;
  for (;;) {
    // Every whole line in the buffer.
    for (;;) {
      const char* from = in_buf + start;
      const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end - start));
      if (nl == nullptr) break;
      if (kOutSize - out_len <= kOutLineMax && !Flush()) return 1;
      // A line is cut wherever it ends: whole in the buffer or not.
      if (!cut.active && nl - from > kMaxLineBytes) {
        BeginCut(from);
        if (header_fault) return 2;
        from += kMaxLineBytes;
      }
      if (cut.active) {
        MoreCut(from, nl);
        EndCut(++line);
      } else {
        Whole(from, nl, ++line);
      }
      if (header_fault) return 2;
      if (out_failed) return 1;
      start = static_cast<std::size_t>(nl - in_buf) + 1;
    }
    // A partial line: held while it may still fit, otherwise cut.
    if (cut.active) {
      MoreCut(in_buf + start, in_buf + end);
      start = end;
    } else if (end - start > kMaxLineBytes) {
      BeginCut(in_buf + start);
      if (header_fault) return 2;
      MoreCut(in_buf + start + kMaxLineBytes, in_buf + end);
      start = end;
    }
    std::memmove(in_buf, in_buf + start, end - start);
    end -= start;
    start = 0;

    if (!holding && !Flush()) return 1;
    if (out_failed) return 1;
    const ssize_t n = read(fd, in_buf + end, kInSize - end);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ComplainErrno(name, errno);
      status = 1;
      break;
    }
    if (n == 0) {  // the last line may lack its line end
      if (cut.active) {
        EndCut(++line);
      } else if (end > 0) {
        Whole(in_buf, in_buf + end, ++line);
      }
      if (header_fault) return 2;
      break;
    }
    end += static_cast<std::size_t>(n);
    // With --header, a UTF-8 byte-order mark that starts the input is
    // skipped, as spreadsheets write one; it is not written back.
    if (mark_pending && (end >= sizeof kMark || std::memcmp(in_buf, kMark, end) != 0)) {
      if (end >= sizeof kMark && std::memcmp(in_buf, kMark, sizeof kMark) == 0) start = sizeof kMark;
      mark_pending = false;
    }
  }
  FlushGroup();
  std::free(group.counts);
  group = Group{};
  if (!Flush()) return 1;
  if (unreported > 0) {
    char text[96];
    std::snprintf(text, sizeof text, "%lld further malformed lines", unreported);
    Complain(text);
  }
  return status != 0 || reported > 0 ? 1 : 0;
}
