// Hostile input end to end: extreme depths and parameters, pictures and
// blurs beyond the memory limit, failed allocations and interrupted runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

#include "api/Decode.h"
#include "api/ExactRun.h"
#include "app/Driver.h"
#include "app/Signals.h"
#include "engine/DepthBlur.h"
#include "fuzz/HostileFiles.h"
#include "image/FileIo.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DOF_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DOF_SANITIZED 1
#endif
#endif

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

// ---------------------------------------------------------------------------
// The blur of a depth

TEST(DepthBlurTest, NeverNaNForFiniteParametersAndAnyDepth) {
    const double places[] = {0.0, 1.0, -1.0, 0.5, 1e300, -1e300, kMax, -kMax, 4.9e-324};
    const double depths[] = {0.0, 1.0, 0.5, -1.0, 1e-300, 1.7e38, -1.7e38, kMax, -kMax, kInf, -kInf, kNaN};
    const double sizes[] = {0.0, 1e-300, 0.1, 16.0, -16.0, 1e300};
    int checked = 0;
    for (const double blurSize : sizes)
        for (const double zNear : places)
            for (const double zFar : places)
                for (const double focus : places)
                    for (const double d : depths) {
                        const double maxBlur = 5.0 * blurSize;
                        const double v = BlurFromDepth(d, blurSize, focus, zNear, zFar, maxBlur);
                        ASSERT_FALSE(std::isnan(v)) << "d " << d << " s " << blurSize << " c " << focus << " n "
                                                    << zNear << " f " << zFar;
                        // The clamps: at least 1 unless maxBlur is smaller, never above maxBlur.
                        if (maxBlur >= 1.0)
                            ASSERT_TRUE(v >= 1.0 && v <= maxBlur);
                        else
                            ASSERT_EQ(v, maxBlur);
                        ++checked;
                    }
    EXPECT_EQ(checked, 6 * 9 * 9 * 9 * 12);
}

TEST(DepthBlurTest, FiniteResultsKeepThePlainFormula) {
    // The defaults: -s 16, focus 0.5, near 0, far 1, maxBlur 80.
    EXPECT_EQ(BlurFromDepth(0.25, 16.0, 0.5, 0.0, 1.0, 80.0), 16.0);
    EXPECT_EQ(BlurFromDepth(0.5, 16.0, 0.5, 0.0, 1.0, 80.0), 1.0);
    EXPECT_EQ(BlurFromDepth(1.0, 16.0, 0.5, 0.0, 1.0, 80.0), 8.0);
    EXPECT_EQ(BlurFromDepth(0.0, 16.0, 0.5, 0.0, 1.0, 80.0), 80.0);
    // An infinite ratio times a positive blur size is clamped as before.
    EXPECT_EQ(BlurFromDepth(1e300, 16.0, 0.5, 0.0, 1e300, 80.0), 16.0);
    EXPECT_EQ(BlurFromDepth(0.0, 2.0, 0.0, 0.0, 0.0, 10.0), 10.0);
}

TEST(DepthBlurTest, OverflowingDistancesGiveTheRatioOfTheUnroundedFormula) {
    // zFar - zNear overflows; the middle depth lies at distance 0: ratio 100.
    EXPECT_EQ(BlurFromDepth(0.5, 2.0, 0.0, -kMax, kMax, 1000.0), 200.0);
    // A far depth times a far zFar overflows; the pixel is so far away that
    // its ratio is 1 (z - focus rounds to z).
    EXPECT_EQ(BlurFromDepth(1.7e38, 16.0, 0.5, 0.0, 1e300, 80.0), 16.0);
    EXPECT_EQ(BlurFromDepth(kInf, 16.0, 0.5, 0.0, 1.0, 80.0), 16.0);
    // zNear = zFar: the depth does not matter, even an infinite one.
    EXPECT_EQ(BlurFromDepth(kInf, 4.0, 1.0, 3.0, 3.0, 20.0), BlurFromDepth(0.5, 4.0, 1.0, 3.0, 3.0, 20.0));
    // Opposite extremes of z and focus: off overflows, the ratio is 2.
    EXPECT_EQ(BlurFromDepth(1.0, 3.0, -kMax / 2 * 1.5, 0.0, kMax / 2 * 1.5, 100.0), 6.0);
    // A NaN depth has no distance: as at distance 0.
    EXPECT_EQ(BlurFromDepth(kNaN, 1.0, 0.5, 0.0, 1.0, 50.0), 50.0);
    // A blur size of 0 stays 0 (then 1) even when the ratio overflows.
    EXPECT_EQ(BlurFromDepth(1.7e38, 0.0, 0.5, 0.0, 1e300, 0.0), 0.0);
}

// ---------------------------------------------------------------------------
// Extreme depths through the program

class ProgramTest : public ::testing::Test {
protected:
    void WriteScene(int width, int height, const Bytes& depth) {
        WriteBytes(dir / "image.tga", ColourTga(width, height));
        WriteBytes(dir / "depth", depth);
        WriteBytes(dir / "lens.tga", GreyTga(256, 256, 200));
    }
    RunResult Run(std::vector<std::string> arguments, const RunLimits& limits = RunLimits()) {
        const std::vector<std::string> files = {"-i", "image.tga", "-z", "depth", "-l", "lens.tga", "-o", "out.tga"};
        arguments.insert(arguments.begin(), files.begin(), files.end());
        return RunDof(dir.path(), arguments, limits);
    }
    ScratchDirectory dir;
};

// The blur of "Init... size = %f".
double InitSize(const std::string& output) {
    const std::size_t at = output.find("Init... size = ");
    if (at == std::string::npos) return kNaN;
    return std::strtod(output.c_str() + at + 15, nullptr);
}

// Depths 0, 1, just above 1, 2^127, 2^-128 and 0.5, as Radiance values.
Bytes ExtremeDepths() {
    return RgbeFile(3, 2, {{0, 128}, {255, 128}, {255, 129}, {255, 255}, {255, 0}, {128, 128}});
}

// A file's bytes decoded as the library decodes them.
dof::Image Decoded(const Bytes& bytes, bool isDepth) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    dof::Result<dof::Image> image = isDepth ? DecodeDepthFile(data, bytes.size(), "depth", 1e12)
                                            : DecodeImageFile(data, bytes.size(), "image", 1e12);
    EXPECT_TRUE(image.Ok()) << image.error().message;
    return std::move(image).value();
}

TEST(ExtremeDepthTest, EveryCombinationOfDistancesRunsWithoutNaN) {
    const dof::Image depth = Decoded(ExtremeDepths(), true);
    const dof::Image colour = Decoded(ColourTga(3, 2), false);
    const dof::Image lens = Decoded(GreyTga(256, 256, 200), false);
    const double places[] = {0.0, -1.0, 1.0, 1e300, -1e300};
    for (const bool reversed : {false, true})
        for (const double zNear : places)
            for (const double zFar : places)
                for (const double focus : places) {
                    dof::ExactParams params;
                    params.blurSize = 3.0;
                    params.zNear = zNear;
                    params.zFar = zFar;
                    params.focus = focus;
                    params.zReverse = reversed;
                    std::unique_ptr<CBlurEngine> engine;
                    const dof::Result<dof::Image> result =
                        RunExact(colour, depth, lens, params, dof::RunOptions(), 0, &engine);
                    ASSERT_TRUE(result.Ok()) << result.error().message;
                    for (int y = 0; y < 2; ++y)
                        for (int x = 0; x < 3; ++x)
                            ASSERT_TRUE(engine->BlurAt(x, y) >= 1.0 && engine->BlurAt(x, y) <= 15.0)
                                << zNear << " " << zFar << " " << focus;
                }
}

TEST_F(ProgramTest, ExtremeDistancesRunEndToEnd) {
    WriteScene(3, 2, ExtremeDepths());
    const std::vector<std::vector<std::string>> runs = {
        {"-s", "3", "-n", "1e300", "-f", "1e300", "-c", "0"},
        {"-s", "3", "-n", "-1e300", "-f", "1e300", "-c", "1e300"},
        {"-s", "3", "-n", "0", "-f", "0", "-c", "0"},
        {"-s", "0", "-r", "-n", "1e300", "-f", "-1e300", "-c", "0"},
    };
    for (const auto& arguments : runs) {
        const RunResult run = Run(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const double size = InitSize(run.output);
        EXPECT_TRUE(size >= 0.0 && size <= 15.0) << run.output;
        EXPECT_EQ(dir.Files(), (std::vector<std::string>{"depth", "image.tga", "lens.tga", "out.tga"}));
    }
}

// ---------------------------------------------------------------------------
// Memory limits

TEST_F(ProgramTest, PicturesBeyondTheMemoryLimitAreRefusedBeforeTheyAreRead) {
    WriteScene(4, 4, GreyTga(4, 4, 100));
    // Headers of 65535 x 65535 pictures in sparse files of the size they promise.
    const std::uint64_t side = 65535;
    struct Sparse {
        const char* name;
        Bytes head;
        std::uint64_t size;
        const char* switchName;
    };
    Bytes rle = TgaHeader(65535, 65535, 32, 10);
    const std::string radiance = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 65535 +X 65535\n";
    const Sparse files[] = {
        {"grey.tga", TgaHeader(65535, 65535, 8, 3), 18 + side * side, "-i"},
        {"rle.tga", rle, 18 + (side * side + 127) / 128 * 5, "-i"},
        {"depth.hdr", Bytes(radiance.begin(), radiance.end()), radiance.size() + side * (4 + 8 * 517), "-z"},
        {"lens32.tga", TgaHeader(65535, 65535, 32, 2), 18 + side * side * 4, "-l"},
    };
    for (const Sparse& file : files) {
        WriteBytes(dir / file.name, file.head);
        ASSERT_EQ(::truncate((dir / file.name).c_str(), static_cast<off_t>(file.size)), 0);
        const RunResult run = Run({file.switchName, file.name});
        EXPECT_EQ(run.exitCode, 5) << file.name;
        const std::string line = std::string("out of memory!! _ ") + file.name + ": 65535x65535 pixels need ";
        EXPECT_EQ(run.output.rfind(line, 0), 0u) << run.output;
        EXPECT_NE(run.output.find(" MiB, the limit is "), std::string::npos) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        // Reading one of these files alone takes seconds.
        EXPECT_LT(run.seconds, 3.0) << file.name << " was read";
        ::unlink((dir / file.name).c_str());
    }
    // The same header in a file too short for it is a load failure, as before.
    WriteBytes(dir / "short.tga", TgaHeader(65535, 65535, 8, 3));
    const RunResult run = Run({"-i", "short.tga"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "image load failed!! _ short.tga\n");
}

TEST_F(ProgramTest, BlursWhoseKernelsWouldNotFitAreRefusedBeforeTheRun) {
    WriteScene(64, 64, GreyTga(64, 64, 0));  // depth 0: the largest blur, 5 -s
    const RunResult huge = Run({"-s", "5000"});
    EXPECT_EQ(huge.exitCode, 5);
    EXPECT_EQ(huge.output.rfind("out of memory!! _ -s 5000: blurs up to 25000 pixels on 64x64 need ", 0), 0u)
        << huge.output;
    EXPECT_EQ(std::count(huge.output.begin(), huge.output.end(), '\n'), 1) << huge.output;
    const RunResult absurd = Run({"-s", "1e300"});
    EXPECT_EQ(absurd.exitCode, 5);
    EXPECT_EQ(absurd.output.rfind("out of memory!! _ -s 1e+300: blurs up to 5e+300 pixels on 64x64 need ", 0), 0u)
        << absurd.output;
    const RunResult fine = Run({"-s", "4"});
    EXPECT_EQ(fine.exitCode, 0) << fine.output;
}

TEST_F(ProgramTest, AFailedAllocationEndsWithOneLine) {
#ifdef DOF_SANITIZED
    GTEST_SKIP() << "a sanitizer's runtime needs more address space than the limit leaves";
#endif
    // Well within the memory limit, but the decoded inputs alone need more
    // than the address space left, however little the engine keeps.
    WriteScene(3000, 3000, GreyTga(3000, 3000, 60));
    RunLimits limits;
    limits.addressSpace = 64u << 20;
    const RunResult run = Run({"-s", "2"}, limits);
    EXPECT_EQ(run.exitCode, 5) << run.output;
    EXPECT_NE(run.output.find("out of memory!! _ std::bad_alloc\n"), std::string::npos) << run.output;
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"depth", "image.tga", "lens.tga"}));
}

TEST(ExceptionReportTest, EachFailureHasItsLineAndExitCode) {
    struct Case {
        std::exception_ptr failure;
        const char* line;
        int code;
    };
    const Case cases[] = {
        {std::make_exception_ptr(std::bad_alloc()), "out of memory!! _ std::bad_alloc\n", 5},
        {std::make_exception_ptr(std::system_error(EAGAIN, std::generic_category(), "thread")),
         "system error!! _ thread: Resource temporarily unavailable\n", 6},
        {std::make_exception_ptr(std::runtime_error("broken")), "fatal error!! _ broken\n", 6},
        {std::make_exception_ptr(42), "fatal error!! _ unknown exception\n", 6},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const int code = ReportException(c.failure);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(code, c.code);
    }
}

// ---------------------------------------------------------------------------
// Interrupted runs

TEST_F(ProgramTest, AnInterruptedRunLeavesNoOutputAndNoTemporaryFile) {
    // Long enough that the signal, sent once setup is done, comes mid-run.
    Bytes depth = TgaHeader(700, 500, 8, 3);
    for (int i = 0; i < 700 * 500; ++i) depth.push_back(static_cast<std::uint8_t>((i % 700) * 255 / 699));
    WriteScene(700, 500, depth);
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        RunLimits limits;
        limits.signalAfterInit = signalNumber;
        const RunResult run = Run({"-s", "12"}, limits);
        EXPECT_EQ(run.signal, signalNumber) << run.output;
        const std::string line = signalNumber == SIGINT ? "interrupted!! _ SIGINT\n" : "interrupted!! _ SIGTERM\n";
        EXPECT_EQ(run.output.substr(run.output.size() - std::min(run.output.size(), line.size())), line);
        EXPECT_EQ(dir.Files(), (std::vector<std::string>{"depth", "image.tga", "lens.tga"}));
    }
    // An output file from before stays as it was.
    WriteBytes(dir / "out.tga", Bytes{1, 2, 3});
    RunLimits limits;
    limits.signalAfterInit = SIGTERM;
    EXPECT_EQ(Run({"-s", "12"}, limits).signal, SIGTERM);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"depth", "image.tga", "lens.tga", "out.tga"}));
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    ASSERT_TRUE(ReadWholeFile(dir / "out.tga", data, size));
    EXPECT_EQ(size, 3u);
}

TEST(InterruptTest, ASignalDuringTheWriteRemovesTheTemporaryFile) {
    ScratchDirectory dir;
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_CREATE), 0);
    const std::string output = dir / "out.tga";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstallSignalHandlers();
        const std::vector<unsigned char> bytes(std::size_t{256} << 20, 7);  // long enough to be caught writing
        for (;;) WriteFileAtomically(output, bytes.data(), bytes.size());
    }
    // The first file created in the directory is the temporary one.
    char events[4096];
    ASSERT_GT(::read(watch, events, sizeof events), 0);
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(watch);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    // Either nothing or a complete file: never a part, never the temporary.
    const std::vector<std::string> files = dir.Files();
    if (!files.empty()) {
        EXPECT_EQ(files, std::vector<std::string>{"out.tga"});
        std::unique_ptr<unsigned char[]> data;
        std::size_t size = 0;
        ASSERT_TRUE(ReadWholeFile(output, data, size));
        EXPECT_EQ(size, std::size_t{256} << 20);
    }
}

}  // namespace
