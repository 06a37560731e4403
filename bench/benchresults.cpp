#include "bench/benchresults.h"

BenchResults::BenchResults(const char* path)
    : file(std::fopen(path, "a"))
{
}

BenchResults::~BenchResults()
{
    if (file)
        std::fclose(file);
}

void BenchResults::Add(const std::string& key, double value)
{
    std::fprintf(file, "%s %.4f\n", key.c_str(), value);
    std::fflush(file);
}

void BenchResults::Add(const std::string& key, const std::string& text)
{
    std::fprintf(file, "%s %s\n", key.c_str(), text.c_str());
    std::fflush(file);
}
