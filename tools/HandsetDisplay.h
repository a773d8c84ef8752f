// A handset file (SNI, EBA, IMG) as the library displays it: the frame drawn
// by DisplayEBA / DisplayIMG on a white 230 x 190 surface, caption included,
// and how long each frame stays. `show --display`, `play` and the picture
// window of `browse` all draw through here.
#pragma once
#include "handpix/picture/Picture.h"
#include "tools/HandsetInfo.h"

namespace handpix::tool {

constexpr int kDisplayWidth = 230;
constexpr int kDisplayHeight = 190;

// Draws frame `frame` into out, which becomes a 230 x 190 bitmap. False when
// the library could not draw the file.
bool DrawHandsetDisplay(CPicture& picture, const CString& path, bool img, int frame, CBitmap& out);

// Tenths of a second that frame `frame` stays: the stream's delay; EBA files
// carry none and take a fifth of a second; a zero delay becomes the shortest
// one, so that players do not race.
unsigned FrameDelayTenths(const HandsetFacts& facts, int frame);
// Whether the animation starts again after its last frame: EBA files always,
// SNI files when their stream says so.
bool LoopsForever(const HandsetFacts& facts);

}  // namespace handpix::tool
