// Checked writes to the standard streams.
#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Standard error has nowhere left to report its own failure.
void Complain(const char* text) {
  constexpr char kPrefix[] = "fisher2x2: ";
  WriteAll(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  WriteAll(STDERR_FILENO, text, std::strlen(text));
  WriteAll(STDERR_FILENO, "\n", 1);
}

void ComplainErrno(const char* what, int err) {
  const char* reason = std::strerror(err);
  constexpr char kPrefix[] = "fisher2x2: ";
  WriteAll(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  WriteAll(STDERR_FILENO, what, std::strlen(what));
  WriteAll(STDERR_FILENO, ": ", 2);
  WriteAll(STDERR_FILENO, reason, std::strlen(reason));
  WriteAll(STDERR_FILENO, "\n", 1);
}
