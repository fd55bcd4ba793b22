// write-photo FILE WIDTH HEIGHT [QUALITY]: writes the benchmark photograph,
// for load runs against the server.

#include "photo.h"

#include <fstream>
#include <iostream>

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::cerr << "usage: write-photo FILE WIDTH HEIGHT [QUALITY]\n";
        return 2;
    }
    const int quality = argc > 4 ? std::stoi(argv[4]) : 92;
    const std::string bytes = syntheticPhotographJpeg(std::stoi(argv[2]), std::stoi(argv[3]), quality);
    std::ofstream(argv[1], std::ios::binary) << bytes;
    std::cout << argv[1] << ": " << bytes.size() << " bytes\n";
    return 0;
}
