// The script GPU memory budget.
#include "gpu/gpubudget.h"

bool GpuBudget::Fits(std::size_t bytes) const
{
    return bytes <= kScriptGpuMemoryLimit && inUse <= kScriptGpuMemoryLimit - bytes;
}

bool GpuBudget::Take(std::size_t bytes, GpuCollect collect)
{
    if (!Fits(bytes) && collect)
        collect();
    if (!Fits(bytes))
        return false;
    inUse += bytes;
    return true;
}

void GpuBudget::Give(std::size_t bytes)
{
    inUse = bytes < inUse ? inUse - bytes : 0;
}
