// A library without the plug-in entry points, to stand in for a broken inner maximizer.
#if defined(_WIN32)
extern "C" __declspec(dllexport) int orvexTestNotAPlugin()
#else
extern "C" __attribute__((visibility("default"))) int orvexTestNotAPlugin()
#endif
{
    return 1;
}
