// tarvek: the document tools of the library for files and folders of photos.

#include "arguments.h"
#include "imageio.h"
#include "reading/reading.h"
#include "run.h"

#include <exception>
#include <iostream>
#include <variant>

#include <unistd.h>

int main(int argc, char** argv)
{
    // OpenCV reads its pixel limit, and OpenMP the threads Tesseract may take, from the
    // environment when they are loaded, before main: the program starts once more when either
    // had to be added. Both are called.
    const bool pixelLimitAdded = tarvek::imageio::limitDecoderPixels();
    if (tarvek::reading::limitEngineThreads() || pixelLimitAdded)
        execv("/proc/self/exe", argv);
    auto parsed = tarvek::cli::parseArguments(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    try {
        return tarvek::cli::runCommand(std::get<tarvek::cli::Settings>(parsed));
    } catch (const std::exception& error) {  // a file system error, for one
        std::cerr << "tarvek: " << error.what() << '\n';
        return 1;
    }
}
