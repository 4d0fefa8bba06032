#!/usr/bin/env bash
# Writes the seed corpus of the color_profile fuzz target
# (fuzz/corpus/color_profile/): profiles lcms2 makes here (sRGB, a gamma-2.2
# wide-gamut RGB, grey, a small CMYK grid) after a layout byte that wraps
# each in another container, plus cut copies.
set -euo pipefail
out=${1:-"$(dirname "$0")/../fuzz/corpus/color_profile"}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/make.c" <<'C'
#include <lcms2.h>
#include <stdio.h>
static void save(cmsHPROFILE p, const char* name) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(p, NULL, &size);
  static char bytes[1 << 20];
  cmsSaveProfileToMem(p, bytes, &size);
  FILE* f = fopen(name, "wb");
  fwrite(bytes, 1, size, f);
  fclose(f);
  cmsCloseProfile(p);
}
static int grid(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  (void)cargo;
  out[0] = (cmsUInt16Number)(65535 - in[3]);
  out[1] = out[2] = 32768;
  return 1;
}
int main(void) {
  cmsCIExyY d65 = {0.3127, 0.3290, 1};
  cmsCIExyYTRIPLE wide = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* g = cmsBuildGamma(NULL, 2.2);
  cmsToneCurve* curves[3] = {g, g, g};
  save(cmsCreate_sRGBProfile(), "srgb.icc");
  save(cmsCreateRGBProfile(&d65, &wide, curves), "wide.icc");
  save(cmsCreateGrayProfile(cmsD50_xyY(), g), "gray.icc");
  cmsHPROFILE cmyk = cmsCreateProfilePlaceholder(NULL);
  cmsSetProfileVersion(cmyk, 2.1);
  cmsSetDeviceClass(cmyk, cmsSigOutputClass);
  cmsSetColorSpace(cmyk, cmsSigCmykData);
  cmsSetPCS(cmyk, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(NULL, 4, 3);
  cmsStage* clut = cmsStageAllocCLut16bit(NULL, 3, 4, 3, NULL);
  cmsStageSampleCLut16bit(clut, grid, NULL, 0);
  cmsPipelineInsertStage(lut, cmsAT_BEGIN, clut);
  cmsWriteTag(cmyk, cmsSigAToB0Tag, lut);
  cmsWriteTag(cmyk, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  save(cmyk, "cmyk.icc");
  return 0;
}
C
cc -o "$work/make" "$work/make.c" -llcms2
(cd "$work" && ./make)

# seed NAME LAYOUT PROFILE: the layout byte and the profile, whole and cut.
seed() {
  printf "\\$(printf '%03o' "$2")" >"$out/$1"
  cat "$work/$3" >>"$out/$1"
  printf "\\$(printf '%03o' "$2")" >"$out/$1-cut"
  head -c $(($(stat -c %s "$work/$3") / 2)) "$work/$3" >>"$out/$1-cut"
}
seed srgb-jpeg 0 srgb.icc
seed wide-png 1 wide.icc
seed gray-webp 2 gray.icc
seed wide-tiff 3 wide.icc
seed wide-heif 4 wide.icc
seed cmyk-jpeg 0 cmyk.icc
