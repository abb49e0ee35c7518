#pragma once
// Which part and channels of an OpenEXR file make the colour picture or the
// depth, from the file's headers and the name a user gave.
#include <cstddef>
#include <string>
#include <vector>

#include "image/ExrHeader.h"

struct ExrChoice {
    std::size_t part = 0;
    std::vector<std::string> channels;  // in the picture's channel order
};

// The colour: R, G, B (and A), or Y (and A). Without a layer, those of the
// first part; with one, those of the part named layer (bare or with the
// layer's prefix), or else layer.R, layer.G, ... of the first part that has
// them. False, with a reason naming the channels there are, when none fit.
bool ChooseExrColour(const ExrHeaders& headers, const std::string& layer, ExrChoice& choice, std::string& reason);

// The depth: the channel named, in the first part that has it; without a
// name, the first of Z, depth.Z, any *.Z, then the channel of a part that
// has only one. Every part is searched for each in turn.
bool ChooseExrDepth(const ExrHeaders& headers, const std::string& channel, ExrChoice& choice, std::string& reason);
