// Blurs a picture with the dof library, as the program does:
//   blur IMAGE DEPTH LENS OUTPUT [BLUR_SIZE FOCUS NEAR FAR]
#include <cstdio>
#include <cstdlib>

#include <dof/dof.h>

int main(int argc, char** argv) {
    if (argc != 5 && argc != 9) {
        std::fprintf(stderr, "usage: %s image depth lens output [blur_size focus near far]\n", argv[0]);
        return 2;
    }
    dof::ExactParams params;
    if (argc == 9) {
        params.blurSize = std::atof(argv[5]);
        params.focus = std::atof(argv[6]);
        params.zNear = std::atof(argv[7]);
        params.zFar = std::atof(argv[8]);
    }
    const dof::Result<dof::Image> colour = dof::ReadImage(argv[1]);
    const dof::Result<dof::Image> depth = dof::ReadDepth(argv[2]);
    const dof::Result<dof::Image> lens = dof::ReadImage(argv[3]);
    dof::Error error = !colour ? colour.error() : !depth ? depth.error() : lens.error();
    if (!error) {
        const dof::Result<dof::Image> blurred = dof::Blur(colour.value(), depth.value(), lens.value(), params);
        error = blurred ? dof::WriteImage(argv[4], blurred.value()) : blurred.error();
    }
    if (error) std::fprintf(stderr, "%s\n", error.message.c_str());
    return error ? 1 : 0;
}
