// Writes the benchmark corpus: assets_make_corpus DIR [DIVISOR] (1 = full, 10 = quick).
#include "BenchCorpus.h"

#include <cstdlib>
#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: assets_make_corpus DIR [DIVISOR]\n";
        return 2;
    }
    const unsigned divisor = argc == 3 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
    try {
        corpus::WriteAll(argv[1], corpus::MakeLayout(divisor));
    } catch (const std::exception& error) {
        std::cerr << "assets_make_corpus: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
