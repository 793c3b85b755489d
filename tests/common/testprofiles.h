#pragma once
// Colour profiles made with the colour library for the tests: wide-gamut RGB spaces like the
// ones cameras and phones embed, and a CMYK stand-in. Header-only.
#include <QByteArray>
#include <lcms2.h>

// An RGB profile with the given primaries (x, y), a D65 white point and either a pure gamma or
// (gamma 0) the sRGB tone curve.
inline QByteArray MakeRgbProfile(const char* description, cmsCIExyYTRIPLE primaries, double gamma) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  cmsToneCurve* curve = nullptr;
  if (gamma > 0) {
    curve = cmsBuildGamma(nullptr, gamma);
  } else {
    const double p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    curve = cmsBuildParametricToneCurve(nullptr, 4, p);
  }
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description);
  cmsWriteTag(h, cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  cmsUInt32Number size = 0;
  QByteArray bytes;
  if (cmsSaveProfileToMem(h, nullptr, &size)) {
    bytes.resize(size);
    cmsSaveProfileToMem(h, bytes.data(), &size);
  }
  cmsCloseProfile(h);
  cmsFreeToneCurve(curve);
  return bytes;
}

inline QByteArray AdobeRgbLikeProfile() {
  return MakeRgbProfile("Wide RGB 1998 test", {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}},
                        563.0 / 256.0);
}

inline QByteArray DisplayP3LikeProfile() {
  return MakeRgbProfile("P3 D65 test", {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}},
                        0);
}

// An sRGB profile as cameras embed it (named "sRGB ...").
inline QByteArray SrgbNamedProfile() {
  return MakeRgbProfile("sRGB IEC61966-2.1", {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}},
                        0);
}

// A CMYK profile (a simple ink-limiting one is enough: only its colour space matters here).
inline QByteArray CmykProfile() {
  cmsHPROFILE h = cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 300);
  cmsUInt32Number size = 0;
  QByteArray bytes;
  if (h && cmsSaveProfileToMem(h, nullptr, &size)) {
    bytes.resize(size);
    cmsSaveProfileToMem(h, bytes.data(), &size);
  }
  if (h) cmsCloseProfile(h);
  return bytes;
}
