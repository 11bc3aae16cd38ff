// Batch mode: reads tables line by line through fixed buffers, writes one
// line per input line.
#include "batch.h"

#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output.h"

namespace {

// Input: bytes [start, end) of in_buf are read and not yet consumed; a
// partial line stays at the front while more is read behind it.
constexpr std::size_t kInSize = 1 << 16;
static_assert(kInSize > kMaxLineBytes + 1, "a whole line must fit");
static_assert(kMaxLineBytes == 4095, "the message says 4095");
char in_buf[kInSize];

// Output, flushed before every read and whenever a line might not fit.
constexpr std::size_t kOutSize = 1 << 16;
static_assert(kOutSize > kFieldsTextMax + 1, "a whole line must fit");
char out_buf[kOutSize];
std::size_t out_len;
bool out_failed;

const Request* request;
long long reported, unreported;  // malformed lines

bool Flush() {
  if (out_failed) return false;
  if (out_len > 0 && !WriteAll(STDOUT_FILENO, out_buf, out_len)) {
    // A closed pipe ends the run quietly, as it does other filters.
    if (errno != EPIPE) ComplainErrno("cannot write to standard output", errno);
    out_failed = true;
    return false;
  }
  out_len = 0;
  return true;
}

void EndLine() { out_buf[out_len++] = '\n'; }

// An empty output line and, for the first kMaxReports, a message.
void Malformed(long long line, const char* fault, int field) {
  EndLine();
  if (reported >= kMaxReports) {
    ++unreported;
    return;
  }
  ++reported;
  char text[96];
  if (field > 0) {
    std::snprintf(text, sizeof text, "line %lld: field %d %s", line, field, fault);
  } else {
    std::snprintf(text, sizeof text, "line %lld: %s", line, fault);
  }
  Complain(text);
}

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

// One input line, [p, end) without its line end; `dropped` when the line
// was too long to hold and its bytes are gone.
void Line(const char* p, const char* end, bool dropped, long long line) {
  if (dropped || end - p > kMaxLineBytes) {
    Malformed(line, "longer than 4095 bytes", 0);
    return;
  }
  if (end > p && end[-1] == '\r') --end;
  while (p < end && IsBlank(*p)) ++p;
  if (p == end || *p == '#') {  // blank or comment
    EndLine();
    return;
  }

  // Five strict integers (four with an alternative): an optional sign,
  // decimal digits, 64 bits.
  const int expected = request->alternative == Alternative::kNone ? 5 : 4;
  const char* const count_fault = expected == 5 ? "expected five integers" : "expected four integers";
  std::int64_t v[5];
  int fields = 0;
  while (p < end) {
    if (fields == expected) {
      Malformed(line, count_fault, 0);
      return;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    const char* digits = p;
    std::uint64_t magnitude = 0;
    bool beyond = false;  // the magnitude passed 2^64 - 1
    for (unsigned digit; p < end && (digit = static_cast<unsigned char>(*p) - 48U) <= 9; ++p) {
      if (magnitude > (UINT64_MAX - digit) / 10) beyond = true;
      magnitude = magnitude * 10 + digit;
    }
    if (p == digits || (p < end && !IsBlank(*p))) {
      Malformed(line, "is not an integer", fields + 1);
      return;
    }
    constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63;  // of -2^63
    if (beyond || magnitude > kMaxMagnitude - (negative ? 0 : 1)) {
      Malformed(line, "is beyond the 64-bit range", fields + 1);
      return;
    }
    v[fields++] = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    while (p < end && IsBlank(*p)) ++p;
  }
  if (fields != expected) {
    Malformed(line, count_fault, 0);
    return;
  }

  // A negative count: an empty line, as the single run writes nothing.
  if (v[0] < 0 || v[1] < 0 || v[2] < 0 || v[3] < 0) {
    EndLine();
    return;
  }
  // Each count is below 2^63, so no partial sum wraps before the check.
  std::uint64_t counts[4], n = 0;
  for (int i = 0; i < 4; ++i) {
    counts[i] = static_cast<std::uint64_t>(v[i]);
    n += counts[i];
    if (n > static_cast<std::uint64_t>(INT64_MAX)) {
      Malformed(line, "the total is beyond the 64-bit range", 0);
      return;
    }
  }
  out_len += WriteFields(*request, counts, expected == 5 && v[4] == 1, out_buf + out_len);
  EndLine();
}

}  // namespace

int RunBatch(int fd, const char* name, const Request& how) {
  request = &how;
  out_len = 0;
  out_failed = false;
  reported = unreported = 0;
  int status = 0;
  std::size_t start = 0, end = 0;
  bool too_long = false;  // dropping the rest of an overlong line
  long long line = 0;
  for (;;) {
    // Every whole line in the buffer.
    for (;;) {
      const char* from = in_buf + start;
      const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end - start));
      if (nl == nullptr) break;
      if (kOutSize - out_len <= kFieldsTextMax + 1 && !Flush()) return 1;
      Line(from, nl, too_long, ++line);
      too_long = false;
      start = static_cast<std::size_t>(nl - in_buf) + 1;
    }
    // A partial line too long to be a table is dropped up to its line end.
    if (too_long || end - start > kMaxLineBytes) {
      too_long = true;
      start = end;
    }
    std::memmove(in_buf, in_buf + start, end - start);
    end -= start;
    start = 0;

    if (!Flush()) return 1;
    const ssize_t n = read(fd, in_buf + end, kInSize - end);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ComplainErrno(name, errno);
      status = 1;
      break;
    }
    if (n == 0) {  // the last line may lack its line end
      if (too_long || end > 0) Line(in_buf, in_buf + end, too_long, ++line);
      break;
    }
    end += static_cast<std::size_t>(n);
  }
  if (!Flush()) return 1;
  if (unreported > 0) {
    char text[96];
    std::snprintf(text, sizeof text, "%lld further malformed lines", unreported);
    Complain(text);
  }
  return status != 0 || reported > 0 ? 1 : 0;
}
