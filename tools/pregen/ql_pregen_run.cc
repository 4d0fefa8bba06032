#include "ql_pregen_run.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "base/ql_mutex.h"
#include "ql_daemon_connection.h"
#include "ql_pregen_outcome.h"

namespace {

typedef std::chrono::steady_clock Clock;

// A terminal line is redrawn at most this often.
const std::chrono::milliseconds kTerminalRefresh(250);
// A lost connection is tried again this many times, this far apart, before
// the worker gives up (the daemon restarting takes about that long).
const int kReconnectTries = 5;
const std::chrono::milliseconds kReconnectPause(200);

std::string SizeText(QLPregenSize const& size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height) +
         (size.full_screen ? ":full" : "");
}

std::string Where(QLPregenEntry const& entry) {
  return entry.line > 0 ? "line " + std::to_string(entry.line) + ": " : std::string();
}

class Run {
 public:
  Run(QLPregenOptions const& options, std::vector<QLPregenEntry> const& entries,
      std::function<bool()> const& stop_requested, std::ostream& messages, bool terminal)
      : options_(options),
        stop_requested_(stop_requested),
        messages_(messages),
        terminal_(terminal) {
    for (QLPregenEntry const& entry : entries) {
      if (entry.error.empty()) {
        good_.push_back(&entry);
      } else {
        failed_ += options.sizes.size();
        Say("bad list entry, " + Where(entry) + entry.error);
      }
    }
    total_ = entries.size() * options.sizes.size();
    items_ = good_.size() * options.sizes.size();
  }

  QLPregenResult Go(double plain_interval_seconds) {
    QLPregenResult result;
    result.total = total_;
    start_ = Clock::now();
    std::unique_ptr<QLDaemonConnection> first(new QLDaemonConnection);
    if (items_ > 0 && !first->Connect(options_.socket, options_.timeout_seconds)) {
      int const error = errno;
      Say("the quorlin_gd daemon is not reachable at " + options_.socket + " (" +
          std::strerror(error) + "); is it running?");
      result.unreachable = true;
      result.counts = Counts();
      return result;
    }
    {
      QLMutexLock hold(&finish_mutex_);
      workers_left_ = options_.connections;
    }
    std::vector<std::thread> threads;
    for (unsigned int i = 0; i < options_.connections; ++i) {
      std::shared_ptr<QLDaemonConnection> connection(i == 0 ? first.release()
                                                            : new QLDaemonConnection);
      threads.emplace_back(&Run::Work, this, connection);
    }
    Report(plain_interval_seconds);
    for (std::thread& thread : threads) thread.join();

    result.counts = Counts();
    result.asked = asked_.load();
    result.seconds = Seconds();
    // A signal that came after the last reply interrupted nothing.
    result.interrupted = stop_.load() && result.counts.done() < result.total;
    // Requests left over without an interruption: every worker that could
    // have asked them lost its connection for good (another may have ended
    // before the last one gave its request back).
    result.daemon_lost = !result.interrupted && result.counts.done() < result.total;
    ClearLine();
    QLMutexLock hold(&output_mutex_);
    messages_ << FormatSummary(result.counts, result.total, result.asked, result.seconds,
                               result.interrupted, result.daemon_lost)
              << "\n"
              << std::flush;
    return result;
  }

 private:
  QLPregenCounts Counts() const {
    QLPregenCounts counts;
    counts.made = made_.load();
    counts.cached = cached_.load();
    counts.defaults = defaults_.load();
    counts.failed = failed_.load();
    return counts;
  }

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  // Messages for the user, one line each; on a terminal the progress line is
  // cleared first and redrawn by the next refresh.
  void Say(std::string const& line) EXCLUDES(output_mutex_) {
    QLMutexLock hold(&output_mutex_);
    if (terminal_ && line_shown_) messages_ << "\r\033[K";
    line_shown_ = false;
    messages_ << line << "\n" << std::flush;
  }

  void ClearLine() EXCLUDES(output_mutex_) {
    QLMutexLock hold(&output_mutex_);
    if (terminal_ && line_shown_) messages_ << "\r\033[K" << std::flush;
    line_shown_ = false;
  }

  void ShowProgress() EXCLUDES(output_mutex_) {
    std::string line = FormatProgress(Counts(), total_, asked_.load(), Seconds());
    QLMutexLock hold(&output_mutex_);
    if (terminal_) {
      // A line that wraps could no longer be redrawn in place.
      struct winsize window = {};
      if (ioctl(STDERR_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 1 &&
          line.size() >= window.ws_col) {
        line.resize(window.ws_col - 1u);
      }
      messages_ << "\r" << line << "\033[K" << std::flush;
      line_shown_ = true;
    } else {
      messages_ << line << "\n" << std::flush;
    }
  }

  // The calling thread: progress until every worker has ended, and the
  // interruption noticed as soon as it comes.
  void Report(double plain_interval_seconds) EXCLUDES(finish_mutex_) {
    Clock::time_point next_plain =
        start_ + std::chrono::milliseconds(static_cast<long>(plain_interval_seconds * 1000));
    bool told = false;
    QLMutexLock lock(&finish_mutex_);
    while (workers_left_ > 0) {
      finished_.WaitFor(finish_mutex_, kTerminalRefresh);
      if (workers_left_ == 0) break;
      lock.Unlock();
      if (!told && Stopping()) {
        told = true;
        Say("interrupted: finishing the requests in flight (Ctrl-C again quits at once)");
      }
      if (terminal_) {
        ShowProgress();
      } else if (Clock::now() >= next_plain) {
        ShowProgress();
        next_plain = Clock::now() +
                     std::chrono::milliseconds(static_cast<long>(plain_interval_seconds * 1000));
      }
      lock.Lock();
    }
  }

  bool Take(std::size_t* item) EXCLUDES(queue_mutex_) {
    QLMutexLock hold(&queue_mutex_);
    if (!returned_.empty()) {
      *item = returned_.back();
      returned_.pop_back();
      return true;
    }
    if (next_ >= items_) return false;
    *item = next_++;
    return true;
  }

  void GiveBack(std::size_t item) EXCLUDES(queue_mutex_) {
    QLMutexLock hold(&queue_mutex_);
    returned_.push_back(item);
  }

  bool Stopping() {
    if (stop_.load()) return true;
    if (stop_requested_()) stop_.store(true);
    return stop_.load();
  }

  bool Reconnect(QLDaemonConnection* connection) {
    for (int attempt = 0; attempt < kReconnectTries && !Stopping(); ++attempt) {
      if (connection->Connect(options_.socket, options_.timeout_seconds)) return true;
      std::this_thread::sleep_for(kReconnectPause * (attempt + 1));
    }
    return false;
  }

  void Work(std::shared_ptr<QLDaemonConnection> connection) {
    std::size_t item = 0;
    while (!Stopping() && Take(&item)) {
      if (!connection->connected() && !Reconnect(connection.get())) {
        GiveBack(item);
        if (!Stopping()) {
          int const error = errno;
          Say("a connection to " + options_.socket + " was lost for good (" + std::strerror(error) +
              ")");
        }
        break;
      }
      Ask(connection.get(), item);
    }
    QLMutexLock hold(&finish_mutex_);
    --workers_left_;
    finished_.NotifyAll();
  }

  void Ask(QLDaemonConnection* connection, std::size_t item) {
    QLPregenEntry const& entry = *good_[item / options_.sizes.size()];
    QLPregenSize const& size = options_.sizes[item % options_.sizes.size()];
    QLThumbnailRequest request;
    request.path = entry.path;
    request.width = size.width;
    request.height = size.height;
    request.full_screen = size.full_screen;
    request.resource_id = entry.resource_id;
    request.thumbnail_folder = options_.thumbnail_folder;
    request.default_folder = options_.default_folder;
    request.background = true;  // a person's request goes first

    // Which format the daemon makes shows only in its reply; what was cached
    // before is looked at for each.
    std::vector<QLThumbnailFormat> cached;
    for (QLThumbnailFormat const each : kAllThumbnailFormats) {
      if (CacheFilePresent(CacheFilePath(request, each))) cached.push_back(each);
    }
    boost::shared_ptr<unsigned char> bytes;
    int length = 0;
    QLDaemonReply const reply = connection->Ask(BuildRequestJson(request), &bytes, &length);
    asked_.fetch_add(1);
    QLThumbnailFormat format = QLThumbnailFormat::kPng;
    if (reply == QLDaemonReply::kThumbnail) {
      SniffThumbnailFormat(bytes.get(), static_cast<std::size_t>(length), &format);
    }
    bool const before = std::find(cached.begin(), cached.end(), format) != cached.end();
    bool const after =
        reply == QLDaemonReply::kThumbnail && CacheFilePresent(CacheFilePath(request, format));
    switch (ClassifyReply(before, reply, after)) {
      case QLPregenOutcome::kMade:
        made_.fetch_add(1);
        break;
      case QLPregenOutcome::kAlreadyCached:
        cached_.fetch_add(1);
        break;
      case QLPregenOutcome::kDefaultPicture:
        defaults_.fetch_add(1);
        break;
      case QLPregenOutcome::kFailed:
        failed_.fetch_add(1);
        Say("failed: " + Where(entry) + entry.path + " (" + SizeText(size) +
            "): " + FailureText(reply));
        break;
    }
  }

  std::string FailureText(QLDaemonReply reply) const {
    switch (reply) {
      case QLDaemonReply::kNoThumbnail:
        return "the daemon could not make a thumbnail (zero-byte reply)";
      case QLDaemonReply::kNotPicture:
        return "the reply is not a PNG, JPEG or WebP picture";
      case QLDaemonReply::kNoReply:
        return "no reply (connection closed or no answer within " +
               std::to_string(options_.timeout_seconds) + " s)";
      case QLDaemonReply::kThumbnail:
        break;
    }
    return "";
  }

  QLPregenOptions const& options_;
  std::function<bool()> const& stop_requested_;
  std::ostream& messages_ GUARDED_BY(output_mutex_);
  bool const terminal_;
  std::vector<QLPregenEntry const*> good_;
  std::uint64_t total_ = 0;
  std::size_t items_ = 0;
  Clock::time_point start_;

  QLMutex queue_mutex_;
  std::size_t next_ GUARDED_BY(queue_mutex_) = 0;
  std::vector<std::size_t> returned_ GUARDED_BY(queue_mutex_);

  QLMutex output_mutex_;
  bool line_shown_ GUARDED_BY(output_mutex_) = false;

  QLMutex finish_mutex_;
  QLCondVar finished_;
  unsigned int workers_left_ GUARDED_BY(finish_mutex_) = 0;

  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> made_{0}, cached_{0}, defaults_{0}, failed_{0}, asked_{0};
};

}  // namespace

int PregenExitStatus(QLPregenResult const& result) {
  if (result.unreachable || result.daemon_lost) return kPregenNoDaemon;
  if (result.interrupted) return kPregenInterrupted;
  return result.counts.failed > 0 ? kPregenSomeFailed : kPregenOk;
}

QLPregenResult RunPregen(QLPregenOptions const& options, std::vector<QLPregenEntry> const& entries,
                         std::function<bool()> const& stop_requested, std::ostream& messages,
                         bool terminal, double plain_interval_seconds) {
  QLDaemonConnection::SetReplyLimit();
  Run run(options, entries, stop_requested, messages, terminal);
  return run.Go(plain_interval_seconds);
}
