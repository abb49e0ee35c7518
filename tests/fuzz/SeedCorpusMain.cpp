// Writes the fuzzers' seed corpus: <directory>/tga, /rgbe, /setup, /png,
// /tiff and /exr.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "fuzz/SeedCorpus.h"

namespace {

bool WriteSeeds(const std::string& directory, const std::vector<Seed>& seeds) {
    ::mkdir(directory.c_str(), 0777);
    for (const Seed& seed : seeds) {
        const std::string path = directory + "/" + seed.name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        const bool ok = std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) == seed.bytes.size();
        if (std::fclose(file) != 0 || !ok) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: fuzz_seed_corpus <directory>\n");
        return 1;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0777);
    if (!WriteSeeds(root + "/tga", TgaSeeds()) || !WriteSeeds(root + "/rgbe", RgbeSeeds()) ||
        !WriteSeeds(root + "/setup", SetupSeeds()) || !WriteSeeds(root + "/png", PngSeeds()) ||
        !WriteSeeds(root + "/tiff", TiffSeeds()) || !WriteSeeds(root + "/exr", ExrSeeds())) {
        std::printf("seed corpus not written!! _ %s\n", root.c_str());
        return 1;
    }
    return 0;
}
