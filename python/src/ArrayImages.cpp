#include "ArrayImages.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PythonErrors.h"

namespace py = pybind11;

namespace {

constexpr int kNumpyAligned = py::detail::npy_api::NPY_ARRAY_ALIGNED_;

// The sample type of a dtype of the right kind and size, whatever its byte order.
bool SampleTypeOf(const py::dtype& dtype, dof::SampleType& type) {
    const char kind = dtype.kind();
    const auto size = dtype.itemsize();
    if (kind == 'u' && size == 1) type = dof::SampleType::kUInt8;
    else if (kind == 'u' && size == 2) type = dof::SampleType::kUInt16;
    else if (kind == 'f' && size == 4) type = dof::SampleType::kFloat32;
    else if (kind == 'f' && size == 8) type = dof::SampleType::kFloat64;
    else return false;
    return true;
}

py::dtype NativeDtype(dof::SampleType type) {
    switch (type) {
        case dof::SampleType::kUInt8: return py::dtype::of<std::uint8_t>();
        case dof::SampleType::kUInt16: return py::dtype::of<std::uint16_t>();
        case dof::SampleType::kFloat32: return py::dtype::of<float>();
        case dof::SampleType::kFloat64: break;
    }
    return py::dtype::of<double>();
}

const char* TypesTaken(PictureRole role) {
    return role == PictureRole::kColour ? "uint8, uint16 or float32" : "uint8, uint16, float32 or float64";
}

// Whether the library can read the array where it lies.
bool ViewableInPlace(const py::array& array, dof::SampleType type, py::ssize_t channels) {
    if (!(array.flags() & kNumpyAligned) || !array.dtype().equal(NativeDtype(type))) return false;
    const py::ssize_t sample = array.itemsize();
    const py::ssize_t pixel = sample * channels;
    const py::ssize_t height = array.shape(0);
    const py::ssize_t width = array.shape(1);
    if (array.ndim() == 3 && channels > 1 && array.strides(2) != sample) return false;
    if (width > 1 && array.strides(1) != pixel) return false;
    return height <= 1 || std::llabs(static_cast<long long>(array.strides(0))) >= width * pixel;
}

}  // namespace

ArrayImage ImageOfArray(const py::handle& object, const char* what, PictureRole role) {
    py::array array = py::array::ensure(object);
    if (!array) RaiseValueError(std::string(what) + " is not an array");
    const std::string name(what);
    dof::SampleType type;
    if (!SampleTypeOf(array.dtype(), type) || (role == PictureRole::kColour && type == dof::SampleType::kFloat64))
        RaiseValueError(name + " has samples of type " + py::str(array.dtype()).cast<std::string>() + "; " +
                        TypesTaken(role) + " are taken");
    if (array.ndim() != 2 && array.ndim() != 3)
        RaiseValueError(name + " has " + std::to_string(array.ndim()) +
                        " dimensions; height x width or height x width x channels are taken");
    if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX)
        RaiseValueError(name + " is " + std::to_string(array.shape(1)) + "x" + std::to_string(array.shape(0)) +
                        " pixels; at most " + std::to_string(INT_MAX) + " a side are taken");
    py::ssize_t channels = array.ndim() == 3 ? array.shape(2) : 1;
    if (channels < 1) RaiseValueError(name + " has no channels");
    if (role == PictureRole::kDepth && channels != 1 && (channels > 4 || !ViewableInPlace(array, type, channels))) {
        // Only the first channel is read: copy that alone.
        const py::object first = array[py::make_tuple(py::ellipsis(), 0)];
        array = py::array::ensure(first);
        channels = 1;
    }
    if (channels > 4)
        RaiseValueError(name + " has " + std::to_string(channels) + " channels; 1 to 4 are taken");

    ArrayImage image;
    if (!ViewableInPlace(array, type, channels)) {
        array = py::module_::import("numpy").attr("require")(array, NativeDtype(type), "CA");
        image.copied = true;
    }
    image.array = array;
    const int height = static_cast<int>(array.shape(0));
    const int width = static_cast<int>(array.shape(1));
    const std::ptrdiff_t rowStride = height > 1 ? array.strides(0) : 0;
    image.view = dof::ImageView(array.data(), width, height, static_cast<int>(channels), type, rowStride);
    return image;
}

py::array ArrayOfImage(dof::Image image) {
    std::vector<py::ssize_t> shape = {image.Height(), image.Width()};
    if (image.Channels() > 1) shape.push_back(image.Channels());
    const py::dtype dtype = NativeDtype(image.Type());
    if (image.Empty()) return py::array(dtype, shape);
    auto owned = std::make_unique<dof::Image>(std::move(image));
    const void* pixels = owned->Data();
    py::capsule owner(owned.get(), [](void* p) { delete static_cast<dof::Image*>(p); });
    owned.release();
    return py::array(dtype, shape, pixels, owner);
}
