// The tarvek program run on a folder tree of generated photos: its JSON lines,
// the files it writes, its exit statuses and an interrupted run.

#include "../bench/photo.h"
#include "binarization_methods.h"
#include "document_search.h"
#include "documentarea.h"
#include "imageio.h"
#include "receipt_image.h"
#include "test_images.h"
#include "version.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Starts tarvek in directory with standard output and error sent to files there. As root and
// boundByModes, tarvek gets none of root's capabilities (SECBIT_NOROOT) where root may give them
// up, so that file modes bind it as they bind anyone else.
pid_t startTarvek(const fs::path& directory, std::vector<std::string> arguments, bool boundByModes = false)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0)
            _exit(127);
        if (boundByModes && geteuid() == 0)
            prctl(PR_SET_SECUREBITS, SECBIT_NOROOT);
        dup2(open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        dup2(open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(TARVEK_CLI_BINARY)};
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(TARVEK_CLI_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

struct Finished {
    int status;  // exit status, or 128 + the signal that ended the process
    std::string out, err;
};

Finished finish(const fs::path& directory, pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, readFile(directory / "stdout.txt"), readFile(directory / "stderr.txt")};
}

// A folder tree of three photos, a text file that is skipped, a file with a
// JPEG signature that does not decode, and a file that cannot be read.
class TarvekProgram : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("tarvek-cli-" + std::to_string(getpid()));
        fs::remove_all(root_);
        for (const auto& [name, size] : photos_)
            writeFile(root_ / "in" / name, syntheticPhotographJpeg(size.width, size.height));
        writeFile(root_ / "in/notes.txt", "not a photo\n");
        writeFile(root_ / "in/a/garbage.jpg", "\xff\xd8\xff\xe0 no JPEG follows");
        // root reads any file, so for it a link that leads nowhere stands in for an unreadable one.
        if (geteuid() == 0) {
            fs::create_symlink("nowhere.jpg", root_ / "in/a/b/unreadable.jpg");
        } else {
            writeFile(root_ / "in/a/b/unreadable.jpg", syntheticPhotographJpeg(64, 48));
            fs::permissions(root_ / "in/a/b/unreadable.jpg", fs::perms::none);
        }
    }
    void TearDown() override { fs::remove_all(root_); }

    Finished runTarvek(std::vector<std::string> arguments, bool boundByModes = false)
    {
        return finish(root_, startTarvek(root_, std::move(arguments), boundByModes));
    }

    fs::path root_;
    const std::map<std::string, cv::Size> photos_ = {
        {"p1.jpg", {800, 600}}, {"a/p2.jpg", {640, 480}}, {"a/b/p3.jpg", {1024, 768}}};
    const std::vector<std::string> failures_ = {"in/a/garbage.jpg", "in/a/b/unreadable.jpg"};
};

TEST_F(TarvekProgram, DetectWritesTheLibrarysCornersAsJsonLines)
{
    const Finished run = runTarvek({"detect", "in", "--jobs", "2"});
    EXPECT_EQ(run.status, 1);
    std::istringstream lines(run.out);
    std::map<std::string, boost::json::object> byPath;
    for (std::string line; std::getline(lines, line);) {
        boost::json::object answer = boost::json::parse(line).as_object();
        byPath[std::string(answer.at("path").as_string())] = answer;
    }
    ASSERT_EQ(byPath.size(), photos_.size() + failures_.size());
    for (const auto& path : failures_)
        EXPECT_TRUE(byPath.at(path).contains("error")) << path;
    for (const auto& [name, size] : photos_) {
        const boost::json::object& answer = byPath.at("in/" + name);
        const cv::Mat photo = cv::imread((root_ / "in" / name).string());
        const auto found = tarvek::documentarea::findDocument(photo);
        ASSERT_TRUE(found) << name;
        boost::json::array expected;
        for (const cv::Point2f& corner : found->corners)
            expected.push_back(boost::json::array{cvRound(corner.x), cvRound(corner.y)});
        EXPECT_EQ(answer.at("corners").as_array(), expected) << name;
        const boost::json::array& subpixel = answer.at("corners_subpixel").as_array();
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(subpixel.at(k).at(0).to_number<double>(), found->corners[k].x, 1e-3) << name;
            EXPECT_NEAR(subpixel.at(k).at(1).to_number<double>(), found->corners[k].y, 1e-3) << name;
        }
        EXPECT_NEAR(answer.at("confidence").to_number<double>(), found->confidence, 1e-9) << name;
        EXPECT_EQ(answer.at("found"), true);
        EXPECT_EQ(answer.at("width"), size.width);
        EXPECT_EQ(answer.at("height"), size.height);
        EXPECT_EQ(answer.at("strategy"), "auto");
        EXPECT_GT(answer.at("milliseconds").to_number<double>(), 0.0) << name;
    }
    // Fractions in plain decimal, as people read them: no exponent anywhere in a line.
    const std::regex exponent(R"([0-9][eE][-+]?[0-9])");
    std::istringstream again(run.out);
    for (std::string line; std::getline(again, line);)
        EXPECT_FALSE(std::regex_search(line, exponent)) << line;
    EXPECT_NE(run.err.find("skipped in/notes.txt: not an image file"), std::string::npos) << run.err;
}

// A large JPEG is searched decoded at a reduced size, as the detect route searches it, so that
// both answer the same corners for the same file.
TEST_F(TarvekProgram, DetectSearchesALargeJpegAsTheDetectRouteDoes)
{
    const std::string photo = TARVEK_TEST_DATA "/smartdoc2015/background01_datasheet001_frame_0118.jpeg";
    const Finished run = runTarvek({"detect", photo});
    ASSERT_EQ(run.status, 0) << run.err;
    const boost::json::object answer = boost::json::parse(run.out).as_object();

    namespace search = tarvek::documentsearch;
    const search::Strategy& strategy = *search::strategyNamed(search::defaultStrategy);
    namespace imageio = tarvek::imageio;
    imageio::ReducedImage reduced = imageio::decodeReduced(readFile(photo), search::searchSide(strategy));
    EXPECT_EQ(reduced.scale, 2);
    const auto found = search::detectedIn(reduced, strategy, {});
    ASSERT_TRUE(found);
    boost::json::array corners;
    for (const cv::Point& corner : search::wholePixels(found->corners))
        corners.push_back(boost::json::array{corner.x, corner.y});
    EXPECT_EQ(answer.at("corners").as_array(), corners);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(answer.at("corners_subpixel").at(k).at(0).to_number<double>(), found->corners[k].x, 1e-3) << k;
        EXPECT_NEAR(answer.at("corners_subpixel").at(k).at(1).to_number<double>(), found->corners[k].y, 1e-3) << k;
    }
    EXPECT_EQ(answer.at("width"), reduced.full.width);
    EXPECT_EQ(answer.at("height"), reduced.full.height);
}

TEST_F(TarvekProgram, WritesResultsInTheInputTreeAndReportsFailures)
{
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"rectify", ".jpg"}, {"binarize", ".png"}, {"clean", ".jpg"}};
    for (const auto& [command, extension] : commands) {
        const Finished run = runTarvek({command, "in", "--out", "out-" + command});
        EXPECT_EQ(run.status, 1) << command;
        for (const auto& path : failures_)
            EXPECT_NE(run.err.find("failed " + path + ": "), std::string::npos) << command << run.err;
        for (const auto& [name, size] : photos_) {
            const fs::path output = (root_ / ("out-" + command) / name).replace_extension(extension);
            EXPECT_FALSE(cv::imread(output.string()).empty()) << output;
        }
    }
}

// Without --method the photo is binarized by auto with its defaults, as the library does it.
TEST_F(TarvekProgram, BinarizesByAutoUnlessToldOtherwise)
{
    const tarvek::binarization::Method& automatic = *tarvek::binarization::methodNamed("auto");
    cv::Mat photo = cv::imread((root_ / "in/p1.jpg").string(), cv::IMREAD_COLOR), expected;
    tarvek::binarization::binarizeNamed(automatic, photo, expected, automatic.defaults);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"binarize", "in/p1.jpg", "--out", "plain"},
          std::vector<std::string>{"binarize", "in/p1.jpg", "--out", "named", "--method", "auto", "--k", "0.2"}}) {
        ASSERT_EQ(runTarvek(arguments).status, 0) << testing::PrintToString(arguments);
        const cv::Mat written = cv::imread((root_ / arguments[3] / "p1.png").string(), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(written.size(), expected.size()) << arguments[3];
        EXPECT_EQ(cv::norm(written, expected, cv::NORM_INF), 0) << arguments[3];
    }
}

TEST_F(TarvekProgram, ExitStatus)
{
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"detect", "in/p1.jpg", "in/a"}, 1},
        {{"detect", "in/p1.jpg", "--kind", "a4"}, 0},
        {{"detect", "in/p1.jpg", "--jobs", "100000"}, 0},  // lowered to what is useful
        {{"detect", "in/p1.jpg", "--jobs", "0"}, 2},
        {{"detect", "in/notes.txt"}, 1},  // named, so not an image is a failure, not a skip
        {{"detect", "--help"}, 0},
        {{"--version"}, 0},
        {{}, 2},
        {{"detect"}, 2},
        {{"detect", "in", "--strategy", "guess"}, 2},
        {{"detect", "missing.jpg"}, 2},
        {{"binarize", "in", "--out", "out", "--method", "sauvola", "--window", "1"}, 2},
        {{"binarize", "in", "--out", "out", "--k", "1.5"}, 2},  // auto's k lies in 0 ... 1
        {{"rectify", "in"}, 2},
        {{"binarize", "in/p1.jpg", "--out", "in", "--format", "jpeg"}, 2},
        {{"read", "in/p1.jpg", "--lang", "xyz"}, 2},
        {{"fields", "in/p1.jpg", "--lang", "eng+eng"}, 2},
        {{"read", "in/p1.jpg", "--deadline-ms", "50"}, 2},
        {{"fields", "in/notes.txt"}, 1},
        {{"rectify", "in/p1.jpg", "--out", "upright", "--upright"}, 0},
        {{"unscramble", "in/p1.jpg", "--out", "plain.jpg"}, 1},
        {{"scramble", "in/p1.jpg", "--out", "in/p1.jpg"}, 2},
    };
    for (const auto& [arguments, status] : cases)
        EXPECT_EQ(runTarvek(arguments).status, status) << testing::PrintToString(arguments);
    EXPECT_EQ(readFile(root_ / "stderr.txt"), "tarvek: refusing to write in/p1.jpg, which is one of the inputs\n");
    EXPECT_EQ(runTarvek({"--version"}).out, "tarvek " + std::string(tarvek::version()) + "\n");
}

// Files whose headers declare more than 2^28 pixels, or no size before the image data, fail
// without being decoded; a lower pixel limit for OpenCV in the environment is kept.
TEST_F(TarvekProgram, RefusesHugeOrUndeclaredSizesAndKeepsALowerDecoderLimit)
{
    writeFile(root_ / "crafted/tem.jpg", jpegWithTemBeforeHugeFrame());
    writeFile(root_ / "crafted/sizeless.jpg", "\xff\xd8" + jpegScan(3));
    const std::map<std::string, std::string> reasons = {
        {"crafted/tem.jpg", "declares more than 2^28 pixels"},
        {"crafted/sizeless.jpg", "the header does not declare the image's size"}};
    const Finished run = runTarvek({"detect", "crafted"});
    EXPECT_EQ(run.status, 1);
    std::istringstream lines(run.out);
    std::size_t answered = 0;
    for (std::string line; std::getline(lines, line); ++answered) {
        const boost::json::object answer = boost::json::parse(line).as_object();
        EXPECT_EQ(answer.at("error").as_string(), reasons.at(std::string(answer.at("path").as_string()))) << line;
    }
    EXPECT_EQ(answered, reasons.size());

    setenv("OPENCV_IO_MAX_IMAGE_PIXELS", "1000", 1); // below the 800 x 600 of p1.jpg
    EXPECT_EQ(runTarvek({"detect", "in/p1.jpg"}).status, 1);
    unsetenv("OPENCV_IO_MAX_IMAGE_PIXELS");
    EXPECT_EQ(runTarvek({"detect", "in/p1.jpg"}).status, 0);
}

TEST_F(TarvekProgram, ScrambleRoundTrip)
{
    writeFile(root_ / "key", "secret");
    writeFile(root_ / "empty", "");
    for (const char* input : {"in/p1.jpg", "empty"})
        for (const std::vector<std::string>& key : {std::vector<std::string>{}, {"--key-file", "key"}}) {
            std::vector<std::string> scramble = {"scramble", input, "--out", "s.bin"};
            std::vector<std::string> unscramble = {"unscramble", "s.bin", "--out", "back.jpg"};
            scramble.insert(scramble.end(), key.begin(), key.end());
            unscramble.insert(unscramble.end(), key.begin(), key.end());
            EXPECT_EQ(runTarvek(scramble).status, 0) << input;
            const bool unchanged = !key.empty() && std::string(input) == "empty";  // nothing to scramble
            EXPECT_EQ(readFile(root_ / "s.bin") == readFile(root_ / input), unchanged) << input;
            EXPECT_EQ(runTarvek(unscramble).status, 0) << input;
            EXPECT_EQ(readFile(root_ / "back.jpg"), readFile(root_ / input)) << input;
        }
}

TEST_F(TarvekProgram, PhotosSharingAnOutputFailNamingTheFirst)
{
    writeFile(root_ / "c1/doc.jpg", syntheticPhotographJpeg(320, 240));
    writeFile(root_ / "c1/doc.png", syntheticPhotographJpeg(400, 300));  // a JPEG, whatever its name says
    writeFile(root_ / "c2/doc.jpg", syntheticPhotographJpeg(480, 360));
    struct Case {
        std::vector<std::string> paths;
        std::string failure;  // "" when every photo is done
        int writtenWidth;     // that of the photo whose result out/doc.png holds
    };
    const std::vector<Case> cases = {
        {{"c1"}, "failed c1/doc.png: would overwrite out/doc.png, the result of c1/doc.jpg\n", 320},
        {{"c2/doc.jpg", "c1/doc.jpg"}, "failed c1/doc.jpg: would overwrite out/doc.png, the result of c2/doc.jpg\n", 480},
        {{"c2", "c2/doc.jpg", "./c2/doc.jpg"}, "", 480},  // one photo, reached three times
    };
    for (const Case& c : cases) {
        fs::remove_all(root_ / "out");
        std::vector<std::string> arguments = {"binarize", "--out", "out", "--jobs", "2"};
        arguments.insert(arguments.end(), c.paths.begin(), c.paths.end());
        const Finished run = runTarvek(arguments);
        EXPECT_EQ(run.status, c.failure.empty() ? 0 : 1) << run.err;
        EXPECT_NE(run.err.find(c.failure), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.failure.empty() ? 1 : 2) << run.err;
        EXPECT_EQ(cv::imread((root_ / "out/doc.png").string()).cols, c.writtenWidth) << run.err;
    }
}

TEST_F(TarvekProgram, PathsThatCannotBeReadAreFailuresThatSayWhy)
{
    const fs::path locked = root_ / "in/a/locked";
    writeFile(locked / "p4.jpg", syntheticPhotographJpeg(64, 48));
    fs::permissions(locked, fs::perms::none);
    fs::create_symlink("loop.jpg", root_ / "in/loop.jpg");
    const Finished walked = runTarvek({"detect", "in"}, true);
    const Finished named = runTarvek({"detect", "in/a/locked"}, true);
    fs::permissions(locked, fs::perms::owner_all);
    const Finished loop = runTarvek({"detect", "in/loop.jpg"});
    EXPECT_EQ(loop.status, 2);
    EXPECT_NE(loop.err.find("in/loop.jpg: Too many levels of symbolic links"), std::string::npos) << loop.err;
    EXPECT_NE(walked.err.find("failed in/loop.jpg: cannot read: Too many levels of symbolic links\n"), std::string::npos);
    EXPECT_EQ(std::count(walked.out.begin(), walked.out.end(), '\n'), photos_.size() + failures_.size() + 2);
    if (named.err.find("done in/a/locked/p4.jpg") != std::string::npos)
        GTEST_SKIP() << "root reads a mode-000 folder here, as it may not give up its capabilities (PR_SET_SECUREBITS)";

    const std::string failure = "failed in/a/locked: cannot list the folder: Permission denied\n";
    EXPECT_NE(walked.err.find(failure), std::string::npos) << walked.err;
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, failure);
    EXPECT_EQ(named.out, R"({"path":"in/a/locked","error":"cannot list the folder: Permission denied"})" "\n");
}

// A file name may hold any byte but '/' and NUL: each photo still gets one progress line, with
// control characters and bytes that are not UTF-8 escaped, and one JSON line that parses.
TEST_F(TarvekProgram, EveryFileNameStaysOnOneLine)
{
    // name, as printed on standard error, as given in JSON
    const std::vector<std::array<std::string, 3>> names = {
        {"new\nline.jpg", "new\\nline.jpg", "new\nline.jpg"},
        {"tab\t\\.jpg", "tab\\t\\\\.jpg", "tab\t\\.jpg"},
        {"\x1b[31mred\x7f.jpg", "\\x1b[31mred\\x7f.jpg", "\x1b[31mred\x7f.jpg"},
        {"c1\xc2\x9b.jpg", "c1\\xc2\\x9b.jpg", "c1\xc2\x9b.jpg"},
        {"bad\xff\xc3\xed\xa0\x80.jpg", "bad\\xff\\xc3\\xed\\xa0\\x80.jpg", "bad\ufffd\ufffd\ufffd\ufffd\ufffd.jpg"},
        {"영수증.jpg", "영수증.jpg", "영수증.jpg"},
    };
    std::set<std::string> printed, inJson;
    for (const auto& [name, onTerminal, json] : names) {
        writeFile(root_ / "odd" / name, syntheticPhotographJpeg(64, 48));
        printed.insert("done odd/" + onTerminal);
        inJson.insert("odd/" + json);
    }
    const Finished run = runTarvek({"detect", "odd"});
    EXPECT_EQ(run.status, 0);
    std::istringstream err(run.err), out(run.out);
    std::set<std::string> errLines, jsonPaths;
    for (std::string line; std::getline(err, line);)
        errLines.insert(line);
    for (std::string line; std::getline(out, line);)  // parse throws on a byte that is not UTF-8
        jsonPaths.insert(std::string(boost::json::parse(line).at("path").as_string()));
    EXPECT_EQ(errLines, printed);
    EXPECT_EQ(jsonPaths, inJson);
}

std::vector<fs::path> filesUnder(const fs::path& folder)
{
    std::vector<fs::path> files;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    return files;
}

TEST_F(TarvekProgram, SkipExistingCompletesAnInterruptedRun)
{
    constexpr int count = 24;
    for (int i = 0; i < count; ++i)
        writeFile(root_ / "many" / (std::to_string(i) + ".jpg"), syntheticPhotographJpeg(1600, 1200));

    const pid_t first = startTarvek(root_, {"rectify", "many", "--out", "flat", "--jobs", "2", "--quiet"});
    for (int wait = 0; wait < 6000 && filesUnder(root_ / "flat").empty(); ++wait)
        std::this_thread::sleep_for(5ms);
    kill(first, SIGINT);
    EXPECT_EQ(finish(root_, first).status, 128 + SIGINT);
    const std::size_t written = filesUnder(root_ / "flat").size();
    EXPECT_LT(written, std::size_t{count});

    const Finished second = runTarvek({"rectify", "many", "--out", "flat", "--skip-existing"});
    EXPECT_EQ(second.status, 0) << second.err;
    std::size_t skipped = 0;
    for (std::size_t at = 0; (at = second.err.find(": output exists", at)) != std::string::npos; ++at)
        ++skipped;
    EXPECT_EQ(skipped, written);
    const auto outputs = filesUnder(root_ / "flat");
    EXPECT_EQ(outputs.size(), std::size_t{count});  // no temporary file left beside them
    for (const fs::path& output : outputs)
        EXPECT_FALSE(cv::imread(output.string()).empty()) << output;
}

// The process id of a process that has ended, as a killed run's is.
pid_t endedProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST_F(TarvekProgram, ARunRemovesTheTemporaryFilesOfAKilledRunAndNothingElse)
{
    const std::string ended = std::to_string(endedProcess());
    const std::string running = std::to_string(getpid());
    const std::vector<std::string> left = {".p1.jpg.tarvek-" + ended + "-0.part",
                                           "a/.p2.jpg.tarvek-" + ended + "-17.part",
                                           "elsewhere/deeper/.x.png.tarvek-" + ended + "-3.part"};
    const std::vector<std::string> kept = {
        ".p1.jpg.tarvek-" + running + "-0.part",  // a run still writing
        ".p1.jpg.tarvek-" + ended + "-0.part.keep",
        ".p1.jpg.tarvek-" + ended + ".part",
        ".p1.jpg.tarvek-x" + ended + "-0.part",
        "p1.jpg.tarvek-" + ended + "-0.part",  // not hidden
        ".tarvek-" + ended + "-0.part",        // no name before it
        ".p1.jpg.part",
        "notes.part",
        "a/.hidden",
        "a/b/p3.jpg"};
    for (const auto& name : left)
        writeFile(root_ / "out" / name, "left");
    for (const auto& name : kept)
        writeFile(root_ / "out" / name, "kept " + name);
    const fs::path link = root_ / "out" / (".l.jpg.tarvek-" + ended + "-1.part");  // a link is not a file of ours
    fs::create_symlink("notes.part", link);

    EXPECT_EQ(runTarvek({"clean", "in/p1.jpg", "--out", "out"}).status, 0);
    for (const auto& name : left)
        EXPECT_FALSE(fs::exists(root_ / "out" / name)) << name;
    for (const auto& name : kept)
        EXPECT_EQ(readFile(root_ / "out" / name), "kept " + name) << name;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(cv::imread((root_ / "out/p1.jpg").string()).empty());
}

// The receipt's lines read back, then its four fields; a photo without text gives empty lines.
TEST_F(TarvekProgram, ReadAndFieldsWriteALinePerPhoto)
{
    fs::copy_file(testreceipt::path, root_ / "receipt.png");
    const Finished read = runTarvek({"read", "receipt.png", "in/p1.jpg", "--lang", "eng", "--no-rectify", "-j", "2"});
    ASSERT_EQ(read.status, 0) << read.err;
    std::map<std::string, boost::json::object> byPath;
    std::istringstream lines(read.out);
    for (std::string line; std::getline(lines, line);) {
        boost::json::object answer = boost::json::parse(line).as_object();
        byPath[std::string(answer.at("path").as_string())] = answer;
    }
    ASSERT_EQ(byPath.size(), 2u) << read.out;
    const boost::json::array& receiptLines = byPath.at("receipt.png").at("lines").as_array();
    ASSERT_EQ(receiptLines.size(), testreceipt::printedLines().size()) << read.out;
    EXPECT_NE(std::string(receiptLines.back().at("text").as_string()).find(testreceipt::total), std::string::npos);
    for (const char* member : {"cut_short", "page_found", "corners", "rotation", "width", "milliseconds"})
        EXPECT_TRUE(byPath.at("in/p1.jpg").contains(member)) << member;

    const Finished fields = runTarvek({"fields", "receipt.png", "--lang", "eng"});
    ASSERT_EQ(fields.status, 0) << fields.err;
    const boost::json::object answer = boost::json::parse(fields.out).as_object();
    EXPECT_EQ(answer.at("path"), "receipt.png");
    EXPECT_EQ(answer.at("telephone").at("value"), testreceipt::telephone.c_str());
    EXPECT_EQ(answer.at("date").at("value"), testreceipt::date.c_str());
    EXPECT_EQ(answer.at("total").at("value"), testreceipt::total.c_str());
    EXPECT_TRUE(answer.at("business_name").is_object()) << fields.out;
}

// A page too long for the engine at a letter height it reads fails with that reason rather than
// an error of the library's internals; a language set may be given with spaces.
TEST_F(TarvekProgram, ReadRefusesAPageTooLongToReadSayingWhy)
{
    cv::Mat line(60, 120000, CV_8U, cv::Scalar(255));
    std::string text;
    while (text.size() * 30 < 120000)
        text += "TOTAL 8.69 ";
    cv::putText(line, text, cv::Point(10, 45), cv::FONT_HERSHEY_SIMPLEX, 1.3, cv::Scalar(0), 2);
    cv::imwrite((root_ / "line.png").string(), line);
    const Finished read = runTarvek({"read", "line.png", "--lang", "eng deu"});
    EXPECT_EQ(read.status, 1) << read.err;
    const boost::json::object answer = boost::json::parse(read.out).as_object();
    const std::string error(answer.at("error").as_string());
    EXPECT_NE(error.find("too long for the engine"), std::string::npos) << error;
    EXPECT_EQ(error.find("OpenCV"), std::string::npos) << error;
    EXPECT_NE(read.err.find("failed line.png: the page"), std::string::npos) << read.err;
}

// A page of scattered dots is not read: its line says why, and so does the error stream, and the
// run still succeeds.
TEST_F(TarvekProgram, APageNotReadSaysWhyOnItsLineAndTheErrorStream)
{
    cv::Mat dots(2000, 2000, CV_32F);
    cv::RNG(5).fill(dots, cv::RNG::UNIFORM, 0, 1);
    cv::imwrite((root_ / "dots.png").string(), dots >= 0.03);
    for (const char* action : {"read", "fields"}) {
        const Finished run = runTarvek({action, "dots.png", "--lang", "eng"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(boost::json::parse(run.out).at("not_read"), "noise") << run.out;
        EXPECT_NE(run.err.find("not read dots.png: noise"), std::string::npos) << run.err;
    }
}

}  // namespace
