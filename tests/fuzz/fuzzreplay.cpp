// Without libFuzzer: runs a fuzz target on each of its seeds, then on random inputs drawn from a
// fixed seed, so that every run of the suite covers a short part of what the fuzzer explores.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::vector<uint8_t>> inputs;
    for (const auto& seed : std::filesystem::directory_iterator(QM_SEEDS)) {
        std::ifstream file(seed.path(), std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::mt19937 random(20261207);
    for (int i = 0; i < 300; ++i) {
        inputs.emplace_back(random() % 160);
        for (uint8_t& byte : inputs.back())
            byte = uint8_t(random());
    }
    for (const auto& input : inputs)
        LLVMFuzzerTestOneInput(input.data(), input.size());
    std::printf("%zu inputs, no fault\n", inputs.size());
    return 0;
}
