#pragma once
#include <vector>

#include "oracle/BlurInput.h"

// Deterministic synthetic scenes of any size, laid out in proportion to the
// picture: a sky and a far, finely detailed background in depth bands, a
// floor that crosses the focus distance, a near subject with hard depth
// edges, bright highlights, a patch of partial alpha and one pixel at
// distance zero. Depth comes as grey TGA bytes; UseDepthValues switches a
// scene to per-pixel values (the RGBE path), some of them above 1.
BlurInput MakeScene(int width, int height, unsigned seed = 1);

// The depth byte of a scene pixel, and the value the RGBE path uses there.
unsigned char SceneDepthByte(int x, int y, int width, int height);
double SceneDepthValue(int x, int y, int width, int height);

// Replaces the scene's depth bytes by per-pixel values.
void UseDepthValues(BlurInput& scene);

// A picture of one colour (alpha 255) at one depth byte, for hand-checked cases.
BlurInput MakeFlatScene(int width, int height, unsigned char depthByte);

// 256 x 256 lenses, R, G, B, A bytes.
std::vector<unsigned char> DiscLens();          // white disc with a soft edge on black
std::vector<unsigned char> GreyBorderLens();    // a disc on a grey ground: the border is not black
std::vector<unsigned char> NoBlueLens();        // a disc whose blue channel is zero everywhere
std::vector<unsigned char> RingLens();          // a bright ring around a black centre
std::vector<unsigned char> LopsidedLens();      // coloured, with no symmetry in x or y
