// A plug-in library for the tests of the DllDataCalc built-in.  For each bar
// it is given it fills output[i] = arguments[0] * close + the first earlier
// item's value (when there is one).  It reads every earlier item's value of
// every bar it is given, as a library may, and returns how many of them are
// numbers; a second argument whose text starts with 'F' makes it return -1.
#include <cstdint>

#if defined(_WIN32)
#define KV_EXPORT extern "C" __declspec(dllexport)
#else
#define KV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct PluginBar {
    int32_t date, time;
    double open, high, low, close, volume, extra, split;
};
struct PluginItem {
    double *values;
    char name[64];
    int32_t dataType;
    int32_t reserved;
};
struct PluginBlock {
    PluginBar *bars;
    double *output;
    double *arguments;
    int32_t argumentCount;
    int32_t barCount;
    char **argumentTexts;
    PluginItem *items;
    int32_t itemCount;
    int32_t reserved;
};

KV_EXPORT int32_t DllDataCalc(PluginBlock *block)
{
    double factor = block->argumentCount >= 1 ? block->arguments[0] : 1.0;
    for (int32_t i = 0; i < block->barCount; i++) {
        double earlier = block->itemCount > 0 ? block->items[0].values[i] : 0.0;
        block->output[i] = factor * block->bars[i].close + earlier;
    }
    int32_t numbers = 0;
    for (int32_t k = 0; k < block->itemCount; k++)
        for (int32_t i = 0; i < block->barCount; i++) numbers += block->items[k].values[i] == block->items[k].values[i];
    if (block->argumentCount >= 2 && block->argumentTexts[1][0] == 'F') return -1;
    return numbers;
}
