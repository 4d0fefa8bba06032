// The runner against fake decoders (shell scripts): whatever the child
// does, the call ends by its deadline, reports the failure, and leaves no
// child behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "base/ql_unique_fd.h"
#include "gtest/gtest.h"
#include "media/ql_media_decoder_runner.h"
#include "support/ql_temp_dir.h"

namespace {

struct RunnerCase {
  char const* name;
  char const* script;  // body of a /bin/sh script; $ANSWER is a valid JPEG answer
  unsigned wall_clock_ms;
  unsigned cpu_seconds;
  char const* error;  // expected part of the error; null: success
  int max_elapsed_ms;
};

std::string ValidAnswer() {
  QLMediaAnswer answer;
  answer.kind = QLMediaAnswerKind::kJpegPreview;
  answer.orientation = 6;
  answer.payload = {0xFF, 0xD8, 0xFF, 0xD9};
  std::vector<std::uint8_t> const bytes = EncodeMediaAnswer(answer);
  return std::string(bytes.begin(), bytes.end());
}

std::string ErrorAnswer(std::string const& text) {
  QLMediaAnswer answer;
  answer.payload.assign(text.begin(), text.end());
  std::vector<std::uint8_t> const bytes = EncodeMediaAnswer(answer);
  return std::string(bytes.begin(), bytes.end());
}

// A header announcing an RGB frame of 100000 x 100000 pixels.
std::string OversizeHeader() {
  std::string header = ValidAnswer().substr(0, kQLMediaAnswerHeaderSize);
  header[5] = 2;
  for (int i : {8, 12, 16, 20}) header.replace(i, 4, std::string("\x00\x01\x86\xA0", 4));
  header.replace(24, 4, std::string("\x7F\xFF\xFF\xFF", 4));
  return header;
}

class MediaDecoderRunnerTest : public ::testing::TestWithParam<RunnerCase> {};

TEST_P(MediaDecoderRunnerTest, EndsWithinItsLimitsAndLeavesNoChild) {
  RunnerCase const& row = GetParam();
  QLTempDir dir;
  ASSERT_TRUE(WriteFileText(dir.File("answer"), ValidAnswer()));
  ASSERT_TRUE(WriteFileText(dir.File("error"), ErrorAnswer("bad\nfile")));
  ASSERT_TRUE(WriteFileText(dir.File("oversize"), OversizeHeader()));
  ASSERT_TRUE(WriteFileText(dir.File("input"), "the file to decode\n"));
  std::string const program = dir.File("decoder");
  ASSERT_TRUE(WriteFileText(
      program, std::string("#!/bin/sh\ncd '") + dir.path() + "'\n" + row.script + "\n"));
  ASSERT_EQ(0, chmod(program.c_str(), 0700));
  QLUniqueFd input(open(dir.File("input").c_str(), O_RDONLY | O_CLOEXEC));
  // A descriptor the daemon holds without close-on-exec must not reach the
  // child; the script checks for it.
  QLUniqueFd leak(open("/dev/null", O_RDONLY));
  ASSERT_TRUE(input.valid() && leak.valid());

  QLChildLimits limits;
  limits.wall_clock_ms = row.wall_clock_ms;
  limits.cpu_seconds = row.cpu_seconds;
  limits.address_space_bytes = 256u << 20;
  QLMediaAnswerLimits answer_limits;
  answer_limits.max_jpeg_bytes = 1024;
  answer_limits.max_pixels = 1000000;
  QLMediaAnswer answer;
  std::string error;
  auto const start = std::chrono::steady_clock::now();
  bool const ok = RunMediaDecoder(program, {std::to_string(leak.get())}, input.get(), limits,
                                  answer_limits, &answer, &error);
  auto const elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();

  EXPECT_LE(elapsed, row.max_elapsed_ms);
  if (row.error) {
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, error.find(row.error)) << error;
  } else {
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(6, answer.orientation);
    EXPECT_EQ(4u, answer.payload.size());
  }
  // Reaped: this process has no child left, zombie or alive.
  errno = 0;
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
}

// The file comes in as standard input; nothing else is inherited.
#define CHECKED                                                                                    \
  "[ -e /proc/$$/fd/$1 ] && exit 9; read -r line && [ \"$line\" = 'the file to decode' ] || exit " \
  "8; "

INSTANTIATE_TEST_SUITE_P(
    Children, MediaDecoderRunnerTest,
    ::testing::Values(
        RunnerCase{"Answers", CHECKED "cat answer", 3000, 5, nullptr, 2000},
        RunnerCase{"AnswersWithAnError", "cat error; exit 1", 3000, 5, "\"bad?file\"", 2000},
        RunnerCase{"Crashes", "kill -SEGV $$", 3000, 5, "killed by signal 11", 2000},
        RunnerCase{"CrashesAfterAnswering", "cat answer; kill -ABRT $$", 3000, 5,
                   "killed by signal 6", 2000},
        RunnerCase{"Hangs", "exec sleep 60", 300, 5, "no answer within 300 ms", 1500},
        RunnerCase{"HangsAfterAnswering", "cat answer; exec >&-; exec sleep 60", 300, 5,
                   "did not end within 300 ms", 1500},
        // One second of CPU takes longer on a busy machine; the message tells the
        // CPU limit from the wall-clock deadline.
        RunnerCase{"SpinsPastItsCpuTime", "while :; do :; done", 8000, 1, "CPU-time limit", 7500},
        RunnerCase{"PrintsGarbage", "echo 'this is no answer at all, just text'", 3000, 5,
                   "not a decoder answer", 2000},
        RunnerCase{"AnnouncesAnOversizeFrame", "cat oversize; exec cat /dev/zero", 3000, 5,
                   "frame too large", 2000},
        RunnerCase{"GoesOnAfterItsAnswer", "cat answer; exec cat /dev/zero", 3000, 5,
                   "bytes after the answer", 2000},
        RunnerCase{"StopsShort", "head -c 30 answer", 3000, 5, "answer cut short", 2000},
        RunnerCase{"ExitsWithoutAnswer", "exit 0", 3000, 5, "answer cut short", 2000},
        RunnerCase{"CannotStart", "exec /nonexistent/decoder", 3000, 5, "could not be started",
                   2000}),
    [](::testing::TestParamInfo<RunnerCase> const& row) { return row.param.name; });

}  // namespace
