// The runner's view options, run as a separate program with no display.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class Runner : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("view_runner_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeGrid(const std::string& text) { std::ofstream(dir_ / "g.grd") << text; }
    // Runs the runner in the test folder without any display; returns the exit status.
    int run(const std::string& args, const std::string& env = "") {
        const std::string cmd = "cd '" + dir_.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " + env + " '" +
                                CELLFORGE_RUN + "' g.grd " + args + " > out.txt 2> err.txt";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string read(const char* name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path dir_;
};

// One part per line: type front side, no signals or bonds, in a 1x1xN box.
std::string column(std::initializer_list<std::array<int, 3>> parts, int x, int y, int z) {
    std::ostringstream g;
    g << x << ' ' << y << ' ' << z << " 1 1 " << parts.size() << '\n';
    for (const auto& p : parts) g << p[0] << ' ' << p[1] << ' ' << p[2] << " 0 0 0 0 0 0 0 0 0 0 0 0\n";
    return g.str();
}

TEST_F(Runner, RendersTheFirstViewAsABitmap) {
    writeGrid(column({{1, 0, 1}}, 0, 0, 0));  // a Conductor facing +y
    ASSERT_EQ(run("-n 3 --render pic.bmp --size 64x48 --camera 0,0,5,0,0"), 0) << read("err.txt");
    const std::string bmp = read("pic.bmp");
    ASSERT_EQ(bmp.size(), 54u + 192u * 48u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    // Upper part of the cube yellow (blue byte first), lower part blue.
    auto px = [&](int x, int y) { return reinterpret_cast<const uint8_t*>(bmp.data()) + 54 + y * 192 + x * 3; };
    EXPECT_GT(px(32, 28)[2], 180);
    EXPECT_LT(px(32, 28)[0], 80);
    EXPECT_GT(px(32, 19)[0], 180);
    EXPECT_LT(px(32, 19)[2], 80);
    EXPECT_EQ(px(2, 2)[0] | px(2, 2)[1] | px(2, 2)[2], 0);

    // ALT comes before AZ: tilted straight down from above, the yellow top
    // fills the middle of the picture.
    ASSERT_EQ(run("--render pic.bmp --size 64x48 --camera 0,5,0,90,0"), 0) << read("err.txt");
    const std::string top = read("pic.bmp");
    ASSERT_EQ(top.size(), bmp.size());
    const auto* mid = reinterpret_cast<const uint8_t*>(top.data()) + 54 + 24 * 192 + 32 * 3;
    EXPECT_GT(mid[1], 200);
    EXPECT_GT(mid[2], 200);
    EXPECT_LT(mid[0], 50);
}

TEST_F(Runner, RendersAPngWithTheBitmapsPixels) {
    writeGrid(column({{1, 0, 1}, {2, 0, 1}}, 0, 0, 0));
    const std::string view = " --size 37x21 --camera 0.3,0.2,6,5,-10";
    ASSERT_EQ(run("-n 2 --render pic.bmp" + view), 0) << read("err.txt");
    ASSERT_EQ(run("-n 2 --render pic.PNG" + view), 0) << read("err.txt");
    const std::string bmp = read("pic.bmp");
    const std::string file = read("pic.PNG");
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(file.substr(1, 3), "PNG");

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, file.data(), file.size()));
    image.format = PNG_FORMAT_RGB;
    ASSERT_EQ(image.width, 37u);
    ASSERT_EQ(image.height, 21u);
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    const size_t row = (37 * 3 + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), 54 + row * 21);
    size_t lit = 0;
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
            const auto* b = reinterpret_cast<const uint8_t*>(bmp.data()) + 54 + size_t(20 - y) * row + size_t(x) * 3;
            const uint8_t* p = rgb.data() + (size_t(y) * 37 + size_t(x)) * 3;
            ASSERT_EQ(p[0], b[2]) << x << "," << y;
            ASSERT_EQ(p[1], b[1]);
            ASSERT_EQ(p[2], b[0]);
            lit += (p[0] | p[1] | p[2]) != 0;
        }
    EXPECT_GT(lit, 20u);  // the parts are in the picture, not just black
}

TEST_F(Runner, DumpUsesTheGivenCameraOrTheCentreOfMass) {
    writeGrid(column({{10, 0, 1}}, 0, 0, 0));
    ASSERT_EQ(run("--write-eps --size 160x120 --camera 0.455,0.455,5.455,0,0"), 0) << read("err.txt");
    EXPECT_EQ(read("dump.eps"), "80 60\n");

    // Default camera: 50 units in front of the only part.
    writeGrid(column({{10, 0, 1}}, 10, 20, 30));
    ASSERT_EQ(run("--write-eps --size 160x120"), 0) << read("err.txt");
    std::istringstream in(read("dump.eps"));
    double x = 0, y = 0;
    ASSERT_TRUE(in >> x >> y);
    const double f = 1 / std::tan(M_PI / 8);
    EXPECT_NEAR(x, 80 + 80 * f * 0.75 * 0.455 / 49.545, 1e-3);
    EXPECT_NEAR(y, 60 + 60 * f * 0.455 / 49.545, 1e-3);

    // An empty universe keeps the initial camera and gives an empty dump.
    writeGrid("");
    ASSERT_EQ(run("--write-eps --render empty.bmp --size 8x8"), 0) << read("err.txt");
    EXPECT_EQ(read("dump.eps"), "");
    EXPECT_EQ(read("empty.bmp").size(), 54u + 24u * 8u);
}

TEST_F(Runner, RejectsMalformedViewOptions) {
    writeGrid(column({{1, 0, 1}}, 0, 0, 0));
    for (const char* bad : {"--size 0x10", "--size 10", "--size 10x99999", "--camera 1,2,3,4", "--camera 1,2,3,4,5,6",
                            "--camera 1,2,x,4,5", "--camera nan,0,0,0,0", "--camera 1e99,0,0,0,0", "--render",
                            // More pixels than are drawn (a 16384x16384 picture once took 4 GB and minutes).
                            "--render big.png --size 16384x16384", "--write-eps --size 4097x4096"})
        EXPECT_EQ(run(bad), 2) << bad;
    EXPECT_FALSE(fs::exists(dir_ / "dump.eps"));
    EXPECT_EQ(run("--render no/such/dir/x.bmp"), 1);
}

TEST_F(Runner, NoOpenGLMeansAClearMessageAndStatusTwo) {
    writeGrid(column({{1, 0, 1}}, 0, 0, 0));
    // Point the EGL loader at no driver at all.
    const std::string noDriver = "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/none.json";
    EXPECT_EQ(run("--render pic.bmp", noDriver), 2);
    EXPECT_NE(read("err.txt").find("ChoosePixelFormat failed"), std::string::npos) << read("err.txt");
    EXPECT_FALSE(fs::exists(dir_ / "pic.bmp"));
    EXPECT_EQ(run("--write-eps", noDriver), 2);
    EXPECT_FALSE(fs::exists(dir_ / "dump.eps"));
    // Without view options no context is needed.
    EXPECT_EQ(run("-n 2", noDriver), 0) << read("err.txt");
}

}  // namespace
