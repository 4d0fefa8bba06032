// Placeholder until dispatch lands: no handlers, no thumbnails.
#include "thumbnail/ql_thumbnail_provider.h"

QLThumbnailProvider::QLThumbnailProvider() {}

QLThumbnailProvider::~QLThumbnailProvider() {}

bool QLThumbnailProvider::GetThumbnailFor(QLThumbnailData& /*data*/) { return false; }
