// dof._dof: the library's public API over numpy arrays. python/dof/__init__.py
// gives these functions their keyword arguments and documentation.
#include <cmath>
#include <string>
#include <utility>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <dof/dof.h>

#include "ArrayImages.h"
#include "Frames.h"
#include "InterruptibleRun.h"
#include "PythonErrors.h"

namespace py = pybind11;

namespace {

struct Inputs {
    ArrayImage colour;
    ArrayImage depth;
    ArrayImage lens;
};

Inputs TakeInputs(py::handle colour, py::handle depth, py::handle lens) {
    return {ImageOfArray(colour, "the colour", PictureRole::kColour),
            ImageOfArray(depth, "the depth", PictureRole::kDepth),
            ImageOfArray(lens, "the lens", PictureRole::kColour)};
}

py::array Blur(py::handle colour, py::handle depth, py::handle lens, double size, double strong, double focus,
               double zNear, double zFar, bool reverse, int threads, py::object progress) {
    const Inputs inputs = TakeInputs(colour, depth, lens);
    dof::ExactParams params;
    params.blurSize = size;
    params.strong = strong;
    params.focus = focus;
    params.zNear = zNear;
    params.zFar = zFar;
    params.zReverse = reverse;
    InterruptibleRun run(std::move(progress), threads);
    return run.Run([&](const dof::RunOptions& options) {
        return dof::Blur(inputs.colour.view, inputs.depth.view, inputs.lens.view, params, options);
    });
}

dof::HighlightRecovery HighlightMode(const std::string& mode) {
    if (mode == "auto") return dof::HighlightRecovery::kAuto;
    if (mode == "on") return dof::HighlightRecovery::kOn;
    if (mode == "off") return dof::HighlightRecovery::kOff;
    RaiseValueError("highlights = '" + mode + "': 'auto', 'on' or 'off' is taken");
}

py::array BlurPhysical(py::handle colour, py::handle depth, py::handle lens, double fstop, double focalLength,
                       double sensorWidth, double focusDistance, double zNear, double zFar, bool reverse,
                       double maxBlur, const std::string& highlights, double clipLevel, double lightGain,
                       double surfaceGain, int threads, py::object progress) {
    dof::PhysicalParams params;
    params.highlights.mode = HighlightMode(highlights);
    const Inputs inputs = TakeInputs(colour, depth, lens);
    dof::Camera& camera = params.camera;
    camera.fNumber = fstop;
    camera.focalLength = focalLength;
    camera.sensorWidth = sensorWidth;
    camera.focusDistance = focusDistance;
    camera.zNear = zNear;
    camera.zFar = zFar;
    camera.zReverse = reverse;
    camera.maxBlur = maxBlur;
    params.highlights.clipLevel = clipLevel;
    params.highlights.compactGain = lightGain;
    params.highlights.extendedGain = surfaceGain;
    InterruptibleRun run(std::move(progress), threads);
    return run.Run([&](const dof::RunOptions& options) {
        return dof::BlurPhysical(inputs.colour.view, inputs.depth.view, inputs.lens.view, params, options);
    });
}

// A file read without the interpreter lock.
template <class Reader>
py::array ReadFile(Reader reader) {
    dof::Result<dof::Image> image = dof::Image();
    {
        py::gil_scoped_release unlocked;
        image = reader();
    }
    if (!image) RaiseError(image.error());
    return ArrayOfImage(std::move(image).value());
}

py::array Read(const std::string& path, const std::string& layer) {
    dof::ReadOptions options;
    options.layer = layer;
    return ReadFile([&] { return dof::ReadImage(path, options); });
}

py::array ReadDepth(const std::string& path, const std::string& channel) {
    dof::ReadOptions options;
    options.depthChannel = channel;
    return ReadFile([&] { return dof::ReadDepth(path, options); });
}

void Write(const std::string& path, py::handle array, int bitDepth) {
    const ArrayImage image = ImageOfArray(array, "the picture", PictureRole::kAny);
    dof::WriteOptions options;
    options.bitDepth = bitDepth;
    dof::Error error;
    {
        py::gil_scoped_release unlocked;
        error = dof::WriteImage(path, image.view, options);
    }
    if (error) RaiseError(error);
}

// How an array is shown to the library: the address of its first row, the
// row stride and whether it was copied (for the tests).
py::tuple InputView(py::handle array, const std::string& role) {
    const ArrayImage image =
        ImageOfArray(array, "the array", role == "depth" ? PictureRole::kDepth : PictureRole::kColour);
    return py::make_tuple(reinterpret_cast<std::uintptr_t>(image.view.Data()), image.view.RowStride(),
                          image.copied);
}

}  // namespace

PYBIND11_MODULE(_dof, m) {
    m.doc() = "The dof library's public API over numpy arrays; use the dof package.";
    m.def("version", &dof::Version);
    m.def("blur", &Blur);
    m.def("blur_physical", &BlurPhysical);
    m.def("read", &Read);
    m.def("read_depth", &ReadDepth);
    m.def("write", &Write);
    m.def("input_view", &InputView);
    m.def("parse_frames", &ParseFrameRange);
    m.def("run_frames", &RunFrames);
}
