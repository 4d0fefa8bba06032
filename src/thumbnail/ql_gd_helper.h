// The thumbnail helper: the command helper the socket server hands each
// request to, and the per-helper values the process frame asks for.
//
// Exactly one QLGDHelper exists (made by GetProcessHelper); ProcessCommand
// runs concurrently on every worker thread. Each call has its own parser,
// record and reply; the shared provider serialises the thumbnail work. The
// counters are atomic; the confinement and the memory trimmer are set before
// serving and then only read. ProcessCommand is the boundary of a request's
// errors: the failures the provider, the cache and the request's files hand
// up in the record are logged there, one ERROR line each (failed saves to a
// full disk at most once a minute per cache folder).
#ifndef QUORLIN_THUMBNAIL_QL_GD_HELPER_H_
#define QUORLIN_THUMBNAIL_QL_GD_HELPER_H_

#include <boost/shared_ptr.hpp>
#include <memory>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "ipc/ql_abstract_helper.h"
#include "thumbnail/cache/ql_full_folder_reports.h"
#include "thumbnail/ql_decode_memory.h"
#include "thumbnail/ql_path_confinement.h"
#include "thumbnail/ql_thumbnail_counters.h"
#include "thumbnail/ql_thumbnail_provider.h"

class QLGDHelper : public QLAbstractHelper {
 public:
  QLGDHelper();
  ~QLGDHelper() override;
  // With the provider's memory_idle_ms > 0: keeps decode memory between
  // requests (KeepDecodeMemory) and starts the trimmer that gives it back
  // when idle. Call once, on the main thread, before serving.
  bool InitHelper() override;
  bool ProcessCommand(boost::shared_ptr<unsigned char> const& message, unsigned int length,
                      boost::shared_ptr<QLProcessHelperSocket> socket) override;
  // The counters' status line.
  std::string StatusText() const override;

  QLThumbnailProvider& provider() { return provider_; }
  QLThumbnailCounters const& counters() const { return counters_; }
  // Requests naming a file or folder outside the confinement get one ERROR
  // line and the failure reply before anything is opened.
  void SetConfinement(QLPathConfinement const& confinement) { confinement_ = confinement; }

 private:
  // False, with one ERROR line, when a path of the request is longer than any
  // path, holds a control character or resolves outside the confinement.
  bool RequestConfined(QLThumbnailData const& data) const;

  QLThumbnailProvider provider_;
  QLThumbnailCounters counters_;
  QLPathConfinement confinement_;
  QLFullFolderReports full_folders_;
  std::unique_ptr<QLIdleMemoryTrimmer> trimmer_;  // set by InitHelper, then only read
};

// Per-helper values for the process frame; each call returns a new value.
std::string GetLogFileName();                            // "gd.log"
std::string GetProcessSocketName();                      // DefaultSocketPath()
std::string GetProcessName();                            // "quorlin_gd"
boost::shared_ptr<QLAbstractHelper> GetProcessHelper();  // with ProcessThumbnailOptions()
// The thumbnail options of the command line (ThumbnailCommandLineOptions),
// filling ProcessThumbnailOptions().
std::vector<QLCommandLineOption> GetHelperOptions();

#endif  // QUORLIN_THUMBNAIL_QL_GD_HELPER_H_
