#pragma once
// What shaders and Shadertoy imports share: their files are read again when saved and compiled
// at the next frame start (or first use) with the context current; a failed read or compile keeps
// what worked last and leaves its messages on standard output and in the owner's reports, under
// the name of the object's first file.

#include <string>

#include "gpu/gpuobject.h"

class CompiledObject : public GpuObject {
public:
    explicit CompiledObject(std::string reportName) : reportName(std::move(reportName)) {}

    // The messages of the last compile or read that failed; "" while all is well.
    const std::string& Error() const { return error; }
    void Refresh() override;
    void ReportFailure(const std::string& why) override;

protected:
    // Compiles now; calls Fail or Succeeded.
    virtual void Compile() = 0;
    // Compiles if due and compiles are not held.
    void CompileIfDue();
    void Fail(std::string message);
    // Said even when this object never failed: the file's line in the reports may be an older
    // object's.
    void Succeeded();

    bool compileDue = true;

private:
    std::string reportName;
    std::string error;
};

// While held, programs are not compiled: a shader not compiled yet draws nothing, as before its
// first compile. The window holds them until its first frame is shown, which then comes sooner.
void HoldShaderCompiles(bool held);
