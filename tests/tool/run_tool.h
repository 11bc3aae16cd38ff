// Runs the built tool as a process: arguments, standard input, exact bytes
// of its output and its exit status.
#ifndef FISHER2X2_TESTS_RUN_TOOL_H
#define FISHER2X2_TESTS_RUN_TOOL_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

// The usage lines, on standard error for every misuse.
constexpr const char* kUsageText =
    "usage: fisher2x2 a b c d test\n"
    "       fisher2x2 -b[p|l][kH] [--fields=LIST] [file]\n"
    "       fisher2x2 -b[p|l][kH]a NAME [--fields=LIST] [file]\n"
    "       fisher2x2 -b[p|l][kH]a NAME -cLIST [file]\n"
    "       fisher2x2 -b[p|l][kH] -cLIST [-dC] [file]\n"
    "       fisher2x2 -b[p|l][kH]sa NAME [--fields=LIST] [file]\n"
    "       fisher2x2 -b[p|l][H]gCOLUMN -aNAME -cLIST [file]\n"
    "       fisher2x2 -h | -V\n"
    "Five or more arguments are always a table a b c d test: options go in\n"
    "at most four (--conf-level=L in the place of one shown).\n";

struct Result {
  std::string out, err;
  int status = -1;
};

inline bool WriteFile(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

inline std::string Drain(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return s;
}

// The tool under test: the one this build made, or FISHER2X2_TOOL, started
// through FISHER2X2_RUNNER when that is set (an emulator for a cross-built
// tool, say).
inline std::vector<std::string> ToolCommand() {
  std::vector<std::string> command;
  if (const char* runner = std::getenv("FISHER2X2_RUNNER"); runner && *runner)
    command.emplace_back(runner);
  const char* tool = std::getenv("FISHER2X2_TOOL");
  command.emplace_back(tool && *tool ? tool : FISHER2X2_BINARY);
  return command;
}

// Runs the tool with the given arguments; standard output goes to a pipe,
// or to `stdout_path` when one is given; standard input comes from a file
// holding `input`, or is /dev/null.
inline Result Tool(const std::vector<std::string>& args, const char* stdout_path = nullptr,
                   const std::string& input = "") {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) ADD_FAILURE() << "pipe";
  char input_path[] = "/tmp/fisher2x2_input_XXXXXX";
  const int input_fd = mkstemp(input_path);
  if (input_fd < 0 || !WriteFile(input_fd, input)) ADD_FAILURE() << "input file";
  close(input_fd);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, input_path, O_RDONLY, 0);
  if (stdout_path) {
    posix_spawn_file_actions_addopen(&fa, 1, stdout_path, O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  }
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  posix_spawn_file_actions_addclose(&fa, err[0]);
  std::vector<std::string> words = ToolCommand();
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : words) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  Result r;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return r;
  }
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  r.out = Drain(out[0]);
  r.err = Drain(err[0]);
  int status;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  unlink(input_path);
  return r;
}

#endif  // FISHER2X2_TESTS_RUN_TOOL_H
