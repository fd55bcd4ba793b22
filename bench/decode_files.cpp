// decode-files THREADS FILE...: reads and decodes the files on THREADS
// threads and prints the photos per second, the baseline of the command
// line's throughput in bench/cli_detect.sh.

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::cerr << "usage: decode-files THREADS FILE...\n";
        return 2;
    }
    const std::vector<std::string> files(argv + 2, argv + argc);
    std::atomic<std::size_t> next{0}, decoded{0};
    const auto decode = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            std::ifstream file(files[i], std::ios::binary);
            const std::vector<uchar> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
            decoded += !cv::imdecode(bytes, cv::IMREAD_COLOR).empty();
        }
    };
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < std::stoi(argv[1]); ++t)
        threads.emplace_back(decode);
    for (std::thread& thread : threads)
        thread.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << decoded << " photos decoded in " << seconds << " s: " << decoded / seconds << " photos/s\n";
    return decoded == files.size() ? 0 : 1;
}
