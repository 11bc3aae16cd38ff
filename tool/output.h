// Checked writes to the standard streams.
#ifndef FISHER2X2_TOOL_OUTPUT_H
#define FISHER2X2_TOOL_OUTPUT_H

#include <cstddef>

// Writes all of [data, data + size) to fd, retrying after interruptions and
// short writes. Returns false, with errno set, on failure.
bool WriteAll(int fd, const char* data, std::size_t size);

// Writes "fisher2x2: " and the given text and a line end to standard error.
void Complain(const char* text);

// Writes "fisher2x2: what: " and the reason for the errno value err.
void ComplainErrno(const char* what, int err);

#endif  // FISHER2X2_TOOL_OUTPUT_H
