#pragma once
// Named figures of one benchmark run, written as "key value" lines for the report.

#include <cstdio>
#include <string>

class BenchResults {
public:
    explicit BenchResults(const char* path);
    ~BenchResults();
    BenchResults(const BenchResults&) = delete;
    BenchResults& operator=(const BenchResults&) = delete;

    bool IsOpen() const { return file != nullptr; }
    void Add(const std::string& key, double value);
    void Add(const std::string& key, const std::string& text);

private:
    std::FILE* file;
};
