// One lcms2 transform from an embedded colour profile to sRGB, perceptual
// intent, and what it does to a thumbnail canvas or a row of CMYK samples.
//
// Build() checks the profile before lcms2 sees it (at least a header and a
// tag count, a size field equal to the bytes given, the 'acsp' signature)
// and refuses what the picture's samples cannot go through: an RGB or grey
// profile for RGB samples, a CMYK profile for CMYK ones, never a device
// link, abstract or named-colour profile. lcms2's own complaints reach the
// daemon's log (one DEBUG line each) and the refusal's reason, never stderr.
//
// A profile whose transform moves no colour of a test grid by more than
// one step is sRGB in all but name: identity() is then true and the caller
// leaves the pixels alone, so such files give the bytes they gave without
// colour management.
//
// Contract: immutable once built; the transform is made without lcms2's
// one-pixel cache, so any number of threads may convert through one
// object at once. The lcms2 handle is released with the last owner.
#ifndef QUORLIN_THUMBNAIL_COLOR_QL_COLOR_TRANSFORM_H_
#define QUORLIN_THUMBNAIL_COLOR_QL_COLOR_TRANSFORM_H_

#include <gd.h>

#include <memory>
#include <string>

class QLColorTransform {
 public:
  enum class Input {
    kRgb,           // a true-colour canvas: RGB or grey profiles
    kCmyk,          // CMYK samples as stored
    kCmykInverted,  // CMYK samples stored inverted (JPEGs with an Adobe marker)
  };

  // Null with the reason in `*problem` when the profile cannot be used.
  static std::shared_ptr<QLColorTransform const> Build(std::string const& icc, Input input,
                                                       std::string* problem);
  QLColorTransform(QLColorTransform const&) = delete;
  QLColorTransform& operator=(QLColorTransform const&) = delete;

  Input input() const { return input_; }
  bool identity() const { return identity_; }
  // Converts every pixel of a true-colour canvas in place, keeping alpha.
  // For kRgb transforms only.
  void ConvertCanvas(gdImagePtr canvas) const;
  // `count` CMYK samples (4 bytes each) into libgd true-colour pixels.
  // For kCmyk and kCmykInverted transforms only.
  void ConvertCmykRow(unsigned char const* cmyk, int* pixels, int count) const;

 private:
  using Handle = std::unique_ptr<void, void (*)(void*)>;  // cmsHTRANSFORM, deleted with it
  QLColorTransform(Handle transform, Input input)
      : transform_(std::move(transform)), input_(input) {}
  bool MovesNoColour() const;

  Handle transform_;
  Input input_;
  bool identity_ = false;
};

#endif  // QUORLIN_THUMBNAIL_COLOR_QL_COLOR_TRANSFORM_H_
