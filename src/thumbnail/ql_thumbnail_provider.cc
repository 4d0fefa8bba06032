// Handler table and dispatch of QLThumbnailProvider. The cache is a
// QLThumbnailCache (cache/ql_thumbnail_cache.h), the handlers and the resize
// step in their own files.
#include "thumbnail/ql_thumbnail_provider.h"

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/thread/locks.hpp>
#include <chrono>
#include <iterator>
#include <string>

#include "log/ql_log.h"
#include "log/ql_logger.h"
#include "thumbnail/ql_image_resize.h"
#include "thumbnail/ql_thumbnail_extensions.h"

namespace {

template <std::size_t N>
void MapAll(QLThumbnailProvider::HandlerTable& table, char const* const (&extensions)[N],
            QLThumbnailProvider::Handler handler) {
  for (char const* extension : extensions) table[extension] = handler;
}

}  // namespace

QLThumbnailProvider::QLThumbnailProvider() {
  // Relative cache folders are resolved against the directory the process
  // started in; pin it now, before anything could change the working folder.
  try {
    boost::filesystem::initial_path();
  } catch (boost::filesystem::filesystem_error const&) {
    // A vanished working directory only matters for relative cache folders,
    // whose look-ups then fail one by one.
  }

  handlers_ = BuildHandlerTable(options_.formats);
}

QLThumbnailProvider::HandlerTable QLThumbnailProvider::BuildHandlerTable(
    QLThumbnailOptions::Formats formats) {
  HandlerTable table;
  // Later assignments win: an extension in several lists ends up with the
  // handler of the last list naming it.
  MapAll(table, unsupported_ext_img_format, &QLThumbnailProvider::HandleImgGeneric);
  table["jpg"] = &QLThumbnailProvider::HandleImgJpg;
  table["jpeg"] = &QLThumbnailProvider::HandleImgJpg;
  table["png"] = &QLThumbnailProvider::HandleImgPng;
  table["wbmp"] = &QLThumbnailProvider::HandleImgWBMP;
  table["bmp"] = &QLThumbnailProvider::HandleImgBmp;
  table["gif"] = &QLThumbnailProvider::HandleImgGif;
  MapAll(table, unsuported_ext_audio_format, &QLThumbnailProvider::HandleAudioGeneric);
  table["mp3"] = &QLThumbnailProvider::HandleAudioMp3;
  MapAll(table, unsuported_ext_video_format, &QLThumbnailProvider::HandleVideoGeneric);
  MapAll(table, unsuported_ext_document_format, &QLThumbnailProvider::HandleDoc);
  if (formats == QLThumbnailOptions::Formats::kBasic) return table;

  // Every extension that gets the video picture gets a frame first ("mts",
  // in the audio and the video list, is a video by the rule above).
  for (auto& entry : table) {
    if (entry.second == &QLThumbnailProvider::HandleVideoGeneric) {
      entry.second = &QLThumbnailProvider::HandleVideoFrame;
    }
  }
  MapAll(table, kCameraRawExtensions, &QLThumbnailProvider::HandleImgCameraRaw);
  MapAll(table, kHeifExtensions, &QLThumbnailProvider::HandleImgHeif);
  table["avif"] = &QLThumbnailProvider::HandleImgAvif;
  table["webp"] = &QLThumbnailProvider::HandleImgWebp;
  table["tif"] = &QLThumbnailProvider::HandleImgTiff;
  table["tiff"] = &QLThumbnailProvider::HandleImgTiff;
  table["jxl"] = &QLThumbnailProvider::HandleImgJxl;
  table["pdf"] = &QLThumbnailProvider::HandleDocPdf;
  return table;
}

QLThumbnailProvider::~QLThumbnailProvider() {}

bool QLThumbnailProvider::ResizeImage(boost::shared_ptr<gdImageStruct> image, QLThumbnailData& data,
                                      int orientation) {
  return ::ResizeImage(options_, image, data, orientation);
}

bool QLThumbnailProvider::ResizeImage(boost::shared_ptr<gdImageStruct> image, QLThumbnailData& data,
                                      int orientation, int original_width, int original_height) {
  return ::ResizeImage(options_, image, data, orientation, original_width, original_height);
}

bool QLThumbnailProvider::HandleImgJpg(QLThumbnailData& data) {
  return ::HandleImgJpg(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgPng(QLThumbnailData& data) {
  return ::HandleImgPng(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgGif(QLThumbnailData& data) {
  return ::HandleImgGif(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgBmp(QLThumbnailData& data) {
  return ::HandleImgBmp(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgWBMP(QLThumbnailData& data) {
  return ::HandleImgWBMP(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleAudioMp3(QLThumbnailData& data) {
  return ::HandleAudioMp3(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgHeif(QLThumbnailData& data) {
  return ::HandleImgHeif(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgAvif(QLThumbnailData& data) {
  return ::HandleImgAvif(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgWebp(QLThumbnailData& data) {
  return ::HandleImgWebp(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgTiff(QLThumbnailData& data) {
  return ::HandleImgTiff(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgCameraRaw(QLThumbnailData& data) {
  return ::HandleImgCameraRaw(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleVideoFrame(QLThumbnailData& data) {
  return ::HandleVideoFrame(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgJxl(QLThumbnailData& data) {
  return ::HandleImgJxl(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleDocPdf(QLThumbnailData& data) {
  return ::HandleDocPdf(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleImgGeneric(QLThumbnailData& data) {
  return ::HandleImgGeneric(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleAudioGeneric(QLThumbnailData& data) {
  return ::HandleAudioGeneric(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleVideoGeneric(QLThumbnailData& data) {
  return ::HandleVideoGeneric(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleDoc(QLThumbnailData& data) {
  return ::HandleDoc(ContextFor(data), data);
}

bool QLThumbnailProvider::HandleUnknown(QLThumbnailData& data) {
  return ::HandleUnknown(ContextFor(data), data);
}

void QLThumbnailProvider::SetOptions(QLThumbnailOptions const& options) {
  options_ = options;
  handlers_ = BuildHandlerTable(options_.formats);
  job_slots_.reset(options_.jobs > 0 ? new QLJobSlots(options_.jobs) : nullptr);
  cache_.SetMaxBytes(options_.cache_max_mb * QLThumbnailOptions::kBytesPerCacheMb);
  cache_.SetTagNewFolders(options_.cache_dir_tag);
}

bool QLThumbnailProvider::GetThumbnailFor(QLThumbnailData& data) {
  data.format = options_.thumbnail_format;
  if (!job_slots_) {
    // Declared before the lock, so a background request leaves the gate
    // only after it has given the lock back.
    QLBackgroundGate::Pass pass(&background_gate_, data.background,
                                std::chrono::milliseconds(options_.lock_wait_ms));
    if (!pass.admitted()) return GiveUpWaiting(data, "the provider lock");
    boost::unique_lock<boost::recursive_timed_mutex> lock(mutex_, boost::defer_lock);
    if (options_.lock_wait_ms == 0) {
      lock.lock();
    } else if (!lock.try_lock_for(boost::chrono::milliseconds(options_.lock_wait_ms))) {
      return GiveUpWaiting(data, "the provider lock");
    }
    pass.Locked();
    return ProduceThumbnail(data, nullptr);
  }
  QLCacheEntryLocks::Hold entry(entry_locks_, QLThumbnailCache::EntryKey(data),
                                std::chrono::milliseconds(options_.lock_wait_ms));
  if (!entry.held()) return GiveUpWaiting(data, "its cache entry");
  return ProduceThumbnail(data, job_slots_.get());
}

bool QLThumbnailProvider::GiveUpWaiting(QLThumbnailData const& data, char const* what) const {
  QL_ERROR("Gave up on \"" << data.path << "\" after waiting " << options_.lock_wait_ms
                           << " ms for " << what << "; answering with the failure reply.");
  return false;
}

QLRequestFiles& QLThumbnailProvider::FilesOf(QLThumbnailData& data) {
  if (!data.files) data.files = std::make_shared<QLRequestFiles>(confinement_, data);
  return *data.files;
}

bool QLThumbnailProvider::ProduceThumbnail(QLThumbnailData& data, QLJobSlots* slots) {
  // Opened only now that the request holds its lock: whatever the caller
  // changed while it waited, the request works on what is there now, and on
  // that alone until it is done.
  struct CloseFiles {
    QLThumbnailData& data;
    ~CloseFiles() { data.files.reset(); }
  } const close_files{data};
  data.files.reset();
  FilesOf(data);
  QLTimer timer;
  QLStatus const cached = GetCachedThumbnail(data);
  QL_DEBUG("GetThumbnailFor - cached thumb took: " << timer.get_duration());
  if (cached.ok()) {
    data.origin = QLThumbnailData::Origin::kCache;
    return true;
  }
  if (cached.kind() != QLStatus::Kind::kNotFound) data.Report(cached);

  std::string extension;
  try {
    extension = LowerCaseExtension(data.path);
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Error processing file name. " << e.what());
    return false;
  }

  data.save_to_cache = false;
  timer.reset();
  // Decoding and scaling are what take memory: at most N of them at once.
  // The save only writes bytes already made, so it runs outside the slot.
  QLJobSlots::Slot slot(slots, std::chrono::milliseconds(options_.lock_wait_ms), data.background);
  if (!slot.held()) return GiveUpWaiting(data, "a job slot");
  HandlerTable::const_iterator const found = handlers_.find(extension);
  if (found != handlers_.end() && (this->*(found->second))(data)) {
    slot.Release();
    // Only thumbnails of the file itself are cached; default pictures never.
    data.origin = data.save_to_cache ? QLThumbnailData::Origin::kMade
                                     : QLThumbnailData::Origin::kDefaultPicture;
    QL_DEBUG("GetThumbnailFor - thumb generation took: " << timer.get_duration());
    timer.reset();
    if (data.save_to_cache) data.Report(SaveThumbnail(data));  // never fails the reply
    QL_DEBUG("GetThumbnailFor - thumb saving took: " << timer.get_duration());
    return true;
  }
  // Unknown extensions and failed handlers alike get the generic picture.
  if (!HandleUnknown(data)) return false;
  data.origin = QLThumbnailData::Origin::kDefaultPicture;
  return true;
}
