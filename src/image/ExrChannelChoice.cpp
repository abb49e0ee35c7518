#include "image/ExrChannelChoice.h"

#include <functional>

namespace {

// The channels of the file, for a reason; a hostile file may have thousands.
std::string ChannelNames(const ExrHeaders& headers) {
    constexpr std::size_t kLongest = 300;
    std::string names;
    for (const ExrPart& part : headers.parts) {
        for (const ExrChannel& channel : part.channels) {
            if (names.size() > kLongest) return names + ", ...";
            names += (names.empty() ? "" : ", ") + channel.name;
        }
    }
    return names.empty() ? "none" : names;
}

// prefix R, G, B (and A), or prefix Y (and A), when part has them.
bool ColourChannels(const ExrPart& part, const std::string& prefix, std::vector<std::string>& names) {
    const auto has = [&](const char* name) { return part.FindChannel(prefix + name) != nullptr; };
    if (has("R") && has("G") && has("B"))
        names = {prefix + "R", prefix + "G", prefix + "B"};
    else if (has("Y"))
        names = {prefix + "Y"};
    else
        return false;
    if (has("A")) names.push_back(prefix + "A");
    return true;
}

// Channels read whole: subsampled ones would need to be spread out.
bool FullResolution(const ExrHeaders& headers, const ExrChoice& choice, std::string& reason) {
    for (const std::string& name : choice.channels) {
        const ExrChannel* channel = headers.parts[choice.part].FindChannel(name);
        if (channel->xSampling != 1 || channel->ySampling != 1) {
            reason = "the channel " + name + " is subsampled";
            return false;
        }
    }
    return true;
}

bool Found(const ExrHeaders& headers, std::size_t part, std::vector<std::string> names, ExrChoice& choice,
           std::string& reason) {
    choice.part = part;
    choice.channels = std::move(names);
    return FullResolution(headers, choice, reason);
}

}  // namespace

bool ChooseExrColour(const ExrHeaders& headers, const std::string& layer, ExrChoice& choice, std::string& reason) {
    std::vector<std::string> names;
    if (layer.empty()) {
        if (!headers.parts.empty() && ColourChannels(headers.parts[0], "", names))
            return Found(headers, 0, names, choice, reason);
        reason = "the first part has no R, G, B or Y channels (the file has " + ChannelNames(headers) + ")";
        return false;
    }
    const std::string prefix = layer + ".";
    for (std::size_t i = 0; i < headers.parts.size(); ++i) {
        const ExrPart& part = headers.parts[i];
        if (part.name == layer && (ColourChannels(part, "", names) || ColourChannels(part, prefix, names)))
            return Found(headers, i, names, choice, reason);
    }
    for (std::size_t i = 0; i < headers.parts.size(); ++i)
        if (ColourChannels(headers.parts[i], prefix, names)) return Found(headers, i, names, choice, reason);
    reason = "no part or layer " + layer + " with R, G, B or Y channels (the file has " + ChannelNames(headers) + ")";
    return false;
}

bool ChooseExrDepth(const ExrHeaders& headers, const std::string& channel, ExrChoice& choice, std::string& reason) {
    // The tests in their order of preference; each searches every part.
    const auto named = [](const std::string& wanted) {
        return [wanted](const ExrPart&, const ExrChannel& c) { return c.name == wanted; };
    };
    const auto endsInZ = [](const ExrPart&, const ExrChannel& c) {
        return c.name.size() > 2 && c.name.compare(c.name.size() - 2, 2, ".Z") == 0;
    };
    const auto only = [](const ExrPart& part, const ExrChannel&) { return part.channels.size() == 1; };
    std::vector<std::function<bool(const ExrPart&, const ExrChannel&)>> tests;
    if (!channel.empty()) {
        tests.push_back(named(channel));
    } else {
        tests.push_back(named("Z"));
        tests.push_back(named("depth.Z"));
        tests.push_back(endsInZ);
        tests.push_back(only);
    }
    for (const auto& test : tests)
        for (std::size_t i = 0; i < headers.parts.size(); ++i)
            for (const ExrChannel& c : headers.parts[i].channels)
                if (test(headers.parts[i], c)) return Found(headers, i, {c.name}, choice, reason);
    reason = (channel.empty() ? std::string("no depth channel (Z, depth.Z, *.Z or a part's only channel)")
                              : "no channel " + channel) +
             " (the file has " + ChannelNames(headers) + ")";
    return false;
}
