// Speed of reading a 300 dpi receipt scan: readText beside the tesseract command on the same
// prepared image with the same languages, and receipts per second with one and two jobs.
// The command's time includes starting its engine; TesseractCommandStart measures that start
// alone (the same command on a blank 16 x 16 image) so that it can be taken off.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "reading/engine.h"
#include "reading/preparation.h"
#include "reading/reading.h"

namespace {

using namespace tarvek::reading;

const char* const LANGUAGES = "deu+eng";

const cv::Mat& scan()
{
    static const cv::Mat image =
        cv::imread(std::string(TARVEK_TEST_DATA) + "/receipts/aldi_02032020_19_02423.jpg", cv::IMREAD_COLOR);
    return image;
}

// The scan as readText hands it to Tesseract, written once as PNG.
std::string preparedFile()
{
    static const std::string path = [] {
        const std::string file = (std::filesystem::temp_directory_path() / "reading-bench-prepared.png").string();
        cv::imwrite(file, prepared(scan(), true, true).pixels);
        return file;
    }();
    return path;
}

std::string blankFile()
{
    static const std::string path = [] {
        const std::string file = (std::filesystem::temp_directory_path() / "reading-bench-blank.png").string();
        cv::imwrite(file, cv::Mat(16, 16, CV_8U, cv::Scalar(255)));
        return file;
    }();
    return path;
}

// The tesseract command as the reading runs it: one column of lines, 300 dpi.
void runCommand(const std::string& file, benchmark::State& state)
{
    const std::string command =
        "tesseract '" + file + "' stdout -l " + LANGUAGES + " --psm 4 --dpi 300 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        state.SkipWithError("the tesseract command failed");
}

void ReadText(benchmark::State& state)
{
    ReadOptions options;
    options.languages = LANGUAGES;
    readText(scan(), options); // starts this thread's engine
    for (auto _ : state)
        benchmark::DoNotOptimize(readText(scan(), options).lines.size());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReadText)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(1)->Threads(2)->MinTime(20);

// The same without the orientation detection, for pages known to be upright.
void ReadTextAsItLies(benchmark::State& state)
{
    ReadOptions options;
    options.languages = LANGUAGES;
    options.upright = false;
    readText(scan(), options);
    for (auto _ : state)
        benchmark::DoNotOptimize(readText(scan(), options).lines.size());
}
BENCHMARK(ReadTextAsItLies)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(20);

// Tesseract alone on the prepared page, through the library's engine.
void RecogniseOnly(benchmark::State& state)
{
    const cv::Mat page = prepared(scan(), true, true).pixels;
    engine::recognise(page, LANGUAGES, Deadline{});
    for (auto _ : state)
        benchmark::DoNotOptimize(engine::recognise(page, LANGUAGES, Deadline{}).lines.size());
}
BENCHMARK(RecogniseOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(20);

void Preparation(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(prepared(scan(), true, true).pixels.data);
}
BENCHMARK(Preparation)->Unit(benchmark::kMillisecond)->UseRealTime();

void TesseractCommand(benchmark::State& state)
{
    const std::string file = preparedFile();
    for (auto _ : state)
        runCommand(file, state);
}
BENCHMARK(TesseractCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(20);

void TesseractCommandStart(benchmark::State& state)
{
    const std::string file = blankFile();
    for (auto _ : state)
        runCommand(file, state);
}
BENCHMARK(TesseractCommandStart)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

} // namespace
